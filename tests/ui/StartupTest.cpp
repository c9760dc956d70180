// The program from its application object on: start-up without a usable catalogue, and a
// normal start and end. This test program is linked without the embedded catalogue, so the
// catalogue comes from ./cardlist.json as in a build without the embedded copy.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>
#include <cstddef>
#include <string>

#include "UiTest.h"
#include "support/TempDir.h"
#include "ui/LumidorApp.h"

namespace {

int RunProgram() {
    static char name[] = "lumidor";
    static char ignored[] = "--these-are-not-read";
    char* argv[] = {name, ignored, nullptr};
    return theApp.Run(2, argv);
}

TEST(StartupTest, AMissingOrInvalidCatalogueEndsTheProgramBeforeAnyWindow) {
    struct Case {
        const char* catalogue;  // null: no file
        const char* message;
    };
    const Case cases[] = {
        {nullptr, "File definizione carte non trovato"},
        {R"({"linux": []})", "Versione del file non valida"},
        {R"({"version": "1.0", "windows": []})", "Array per sistema operativo non valido"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.catalogue != nullptr) {
            WriteFile("cardlist.json", c.catalogue);
        }
        int windowsShown = 0;
        ModalScript script([&](CDialogEx& dialog) {
            ++windowsShown;
            dialog.EndDialog(IDCANCEL);
        });
        testing::internal::CaptureStderr();
        int status = RunProgram();
        std::string error = testing::internal::GetCapturedStderr();
        EXPECT_NE(status, 0) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(windowsShown, 0);
        EXPECT_NE(ReadFile("Lumidor.log").find(c.message), std::string::npos)
            << "the log keeps the message: " << c.message;
    }
}

TEST(StartupTest, WithACatalogueTheWindowRunsUntilEscapeAndTheProgramEnds) {
    TempDir dir;
    WriteFile("cardlist.json", R"({"version": "1.0.0.0", "linux": []})");
    std::string title;
    bool visible = false;
    ModalScript script([&](CDialogEx& dialog) {
        title = dialog.GetWidget()->windowTitle().toStdString();
        visible = dialog.GetWidget()->isVisible();
        QWidget* focus = dialog.GetWidget()->focusWidget();
        QTest::keyClick(focus ? focus : dialog.GetWidget(), Qt::Key_Escape);
    });
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(script.Runs(), 1);
    EXPECT_EQ(title, "Lumidor");
    EXPECT_TRUE(visible);
    // The window's start-up listed the readers (the log cuts sources to 30 characters).
    EXPECT_NE(ReadFile("Lumidor.log").find("CSmartCardManager::UpdateReade"), std::string::npos);
}

}  // namespace
