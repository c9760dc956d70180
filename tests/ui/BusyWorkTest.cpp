// Busy work in a window: the worker thread, the input held back meanwhile, the indicator and
// what an exception from the work becomes. A work that never returns, and closing the window
// then, end the process: they are in HangingDriverTest.cpp.

#include <gtest/gtest.h>

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <functional>
#include <latch>
#include <new>
#include <stdexcept>
#include <string>

#include "UiTest.h"
#include "log/Log.h"
#include "manager/PendingCall.h"
#include "support/TempDir.h"
#include "ui/AboutDlg.h"
#include "ui/DriverWait.h"
#include "ui/framework/BusyIndicator.h"
#include "ui/framework/BusyWork.h"
#include "ui/framework/InputBlocker.h"

namespace {

using std::chrono::hours;
using std::chrono::milliseconds;

// Generous: a wait fails only when what it waits for clearly never comes.
constexpr int kWaitMs = 10000;

class BusyWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(about.Create());
        list.Attach(&listWidget);
    }
    void TearDown() override { LogStop(); }

    QFrame* Indicator() const {
        return about.GetWidget()->findChild<QFrame*>(QStringLiteral("busyIndicator"));
    }
    std::string IndicatorText() const {
        QFrame* panel = Indicator();
        QLabel* text = panel != nullptr ? panel->findChild<QLabel*>() : nullptr;
        return text != nullptr ? text->text().toStdString() : "(no indicator)";
    }
    bool WaitForIndicatorText(const std::string& expected) const {
        return QTest::qWaitFor([&] { return IndicatorText() == expected; }, kWaitMs);
    }

    QApplication& application = TestApplication();  // before any widget
    CAboutDlg about;
    QListWidget listWidget;
    CListBox list;
};

TEST_F(BusyWorkTest, InputIsHeldBackAndLinesFromTheWorkerKeepTheirOrder) {
    list.AddLine("before");
    std::latch clicked(1);
    // Runs inside the busy loop: a real click on OK while the worker waits.
    QTimer::singleShot(0, [&] {
        Click(about, IDOK);
        clicked.count_down();
    });
    uint32_t result = about.RunBusy(
        [&] {
            clicked.wait();
            for (int i = 0; i < 300; ++i) {
                list.AddLine("line " + std::to_string(i));
            }
            return 0x8010000Cu;
        },
        list);
    list.AddLine("after");

    EXPECT_EQ(result, 0x8010000Cu);
    EXPECT_TRUE(about.GetWidget()->isVisible()) << "the click during the work was dropped";
    ASSERT_EQ(list.GetCount(), 302);
    EXPECT_EQ(list.GetText(0), "before");
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(list.GetText(i + 1), "line " + std::to_string(i));
    }
    EXPECT_EQ(list.GetText(301), "after");
    Click(about, IDOK);
    EXPECT_FALSE(about.GetWidget()->isVisible()) << "input works again afterwards";
}

TEST_F(BusyWorkTest, AnExceptionFromTheWorkIsLoggedAndShownAndTheWindowGoesOn) {
    struct Case {
        const char* name;
        std::function<uint32_t()> work;
        std::string shown;
        std::string logged;
    };
    const Case cases[] = {
        {"std::bad_alloc", []() -> uint32_t { throw std::bad_alloc(); },
         "Errore interno durante l'operazione: std::bad_alloc",
         "The operation ended with an exception: std::bad_alloc"},
        {"std::runtime_error", []() -> uint32_t { throw std::runtime_error("lettura fallita"); },
         "Errore interno durante l'operazione: lettura fallita",
         "The operation ended with an exception: lettura fallita"},
        {"not a std::exception", []() -> uint32_t { throw 42; },
         "Errore interno durante l'operazione: eccezione sconosciuta",
         "The operation ended with an exception: not a std::exception"},
    };
    TempDir dir;
    ASSERT_EQ(LogStart(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list.ResetContent();
        EXPECT_EQ(about.RunBusy(c.work, list), kBusyWorkFailed);
        ASSERT_EQ(list.GetCount(), 1);
        EXPECT_EQ(list.GetText(0), c.shown);
        EXPECT_EQ(about.RunBusy([] { return 7u; }, list), 7u) << "the next work runs";
    }
    LogStop();
    const std::string log = ReadFile("Lumidor.log");
    for (const Case& c : cases) {
        EXPECT_NE(log.find("|CDialogEx::RunBusy "), std::string::npos) << log;
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << "\n" << log;
    }
    Click(about, IDOK);
    EXPECT_FALSE(about.GetWidget()->isVisible()) << "input works again afterwards";
}

TEST_F(BusyWorkTest, OnlyClosingTheWorkingWindowGetsPastTheBlocker) {
    struct Case {
        const char* name;
        std::function<void()> act;
        int closes;
    };
    const Case cases[] = {
        {"close box", [&] { about.GetWidget()->close(); }, 1},
        {"close box, from the window system", [&] { about.GetWidget()->windowHandle()->close(); },
         1},
        {"Escape", [&] { PressKey(about, Qt::Key_Escape); }, 1},
        {"Escape, from the window system",
         [&] { QTest::keyClick(about.GetWidget()->windowHandle(), Qt::Key_Escape); }, 1},
        {"Ctrl+Escape",
         [&] { QTest::keyClick(about.GetWidget(), Qt::Key_Escape, Qt::ControlModifier); }, 0},
        {"Enter", [&] { PressKey(about, Qt::Key_Return); }, 0},
        {"click on OK", [&] { Click(about, IDOK); }, 0},
    };
    for (const Case& c : cases) {
        int closes = 0;
        {
            InputBlocker blocker(about.GetWidget(), [&] { ++closes; });
            c.act();
        }
        EXPECT_EQ(closes, c.closes) << c.name;
        EXPECT_TRUE(about.GetWidget()->isVisible()) << c.name << " reached the dialog";
    }
}

TEST_F(BusyWorkTest, TheIndicatorNamesTheCallTheWorkWaitsForAndFollowsIt) {
    {
        // Without delays, which the window has of 0.5 s and 5 s.
        BusyIndicator indicator(about.GetWidget(), milliseconds(0),
                                DriverWait(milliseconds(0), hours(1)).indicatorText);
        ASSERT_NE(Indicator(), nullptr);
        EXPECT_TRUE(Indicator()->isVisible());
        EXPECT_EQ(IndicatorText(), "Operazione in corso...");
        {
            PendingCallScope call("C_Initialize");
            EXPECT_TRUE(WaitForIndicatorText("In attesa del driver (C_Initialize)..."))
                << IndicatorText();
            {
                PendingCallScope inner("C_GetSlotList");
                EXPECT_TRUE(WaitForIndicatorText("In attesa del driver (C_GetSlotList)..."))
                    << IndicatorText();
            }
            EXPECT_TRUE(WaitForIndicatorText("In attesa del driver (C_Initialize)..."))
                << IndicatorText();
        }
        EXPECT_TRUE(WaitForIndicatorText("Operazione in corso...")) << IndicatorText();
        SaveScreenshot(about.GetWidget(), "busy-indicator");
    }
    EXPECT_EQ(Indicator(), nullptr) << "the indicator goes with the work";
}

TEST_F(BusyWorkTest, AModuleWhoseStartLastsIsNamedThenWithItsCall) {
    // The window names a start after 2 s and a call after 5 s: here the start at once, and
    // the call never, then at once.
    const struct {
        milliseconds nameCallAfter;
        std::string text;
    } cases[] = {
        {hours(1), "In attesa dell'avvio del driver 'opensc-pkcs11.so'..."},
        {milliseconds(0), "In attesa del driver 'opensc-pkcs11.so' (C_Initialize)..."},
    };
    for (const auto& c : cases) {
        BusyIndicator indicator(about.GetWidget(), milliseconds(0),
                                DriverWait(c.nameCallAfter, milliseconds(0)).indicatorText);
        {
            StartingModuleScope starting("opensc-pkcs11.so");
            PendingCallScope call("C_Initialize");
            EXPECT_TRUE(WaitForIndicatorText(c.text)) << IndicatorText();
        }
        EXPECT_TRUE(WaitForIndicatorText("Operazione in corso...")) << IndicatorText();
    }
}

TEST_F(BusyWorkTest, BeforeItsDelaysTheIndicatorIsHiddenAndThenNamesNoCall) {
    PendingCallScope call("C_Login");
    {
        BusyIndicator indicator(about.GetWidget(), hours(1),
                                DriverWait(hours(1), hours(1)).indicatorText);
        QTest::qWait(300);
        ASSERT_NE(Indicator(), nullptr);
        EXPECT_FALSE(Indicator()->isVisible());
    }
    {
        BusyIndicator indicator(about.GetWidget(), milliseconds(0),
                                DriverWait(hours(1), hours(1)).indicatorText);
        QTest::qWait(300);
        ASSERT_NE(Indicator(), nullptr);
        EXPECT_TRUE(Indicator()->isVisible());
        EXPECT_EQ(IndicatorText(), "Operazione in corso...");
    }
}

}  // namespace
