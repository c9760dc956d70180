// The program's resources handed to the dialog framework. This test program has none of the
// UI tests' set-up, which registers the program's own before any test: the registration is
// once per process, so one test follows it from before to after.

#include "ui/framework/ProgramResources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <stdexcept>
#include <string>

namespace {

std::string RedSquarePng() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

TEST(ProgramResourcesTest, RegisteredOnceBeforeUseAndNeverReplaced) {
    int argc = 1;
    char name[] = "lumidor-resource-test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);  // icons are decoded into pixmaps

    // Before any registration a lookup is the program's fault, not a missing dialog.
    EXPECT_THROW(FindDialogTemplate(1), std::logic_error);
    EXPECT_THROW(LoadIcon(7), std::logic_error);

    // A faulty template registers nothing, so a correct registration may follow.
    try {
        RegisterResources({"dialog\t1\t10\n", {}});
        ADD_FAILURE() << "a faulty template was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("line 1"), std::string::npos) << error.what();
    }
    EXPECT_THROW(FindDialogTemplate(1), std::logic_error);

    RegisterResources({"dialog\t1\t10\t10\t-\tPrima\n", {{7, RedSquarePng()}}});
    ASSERT_NE(FindDialogTemplate(1), nullptr);
    EXPECT_EQ(FindDialogTemplate(1)->title, "Prima");
    EXPECT_EQ(FindDialogTemplate(2), nullptr);
    EXPECT_EQ(LoadIcon(7).pixmap(4, 4).toImage().pixelColor(1, 1), QColor(Qt::red));
    EXPECT_TRUE(LoadIcon(8).isNull());

    // A second registration changes nothing: dialogs hold on to the first one's templates.
    const DialogTemplate* first = FindDialogTemplate(1);
    EXPECT_THROW(RegisterResources({"dialog\t2\t10\t10\t-\tSeconda\n", {}}), std::logic_error);
    EXPECT_EQ(FindDialogTemplate(1), first);
    EXPECT_EQ(FindDialogTemplate(2), nullptr);
    EXPECT_FALSE(LoadIcon(7).isNull());
}

}  // namespace
