// The main window follows cards and readers that come and go by itself: on the rig's pcscd
// with the virtual card (inserted, removed, the service stopped and started again), and with
// a scripted PC/SC service for readers that appear and go away, which the rig's pcscd cannot
// do while it runs (its readers come from its configuration, read at its start).

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "UiTest.h"
#include "support/Command.h"
#include "support/OpenDescriptors.h"
#include "support/TempDir.h"
#include "support/rig/FakePcsc.h"
#include "support/rig/RigService.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"
#include "ui/LumidorDlg.h"
#include "ui/resource.h"

namespace {

constexpr const char* kKnownAtr = "3B021450";
// A card of the catalogue whose driver is missing: checked without any module.
constexpr const char* kOtherAtr = "3B021451";
// How long a test waits for the window to follow a change before it fails.
constexpr int kWaitMs = 30000;

std::string Catalogue(const std::string& drivers) {
    auto entry = [](const std::string& atr, const std::string& cardDrivers) {
        return R"({"type": "CCID", "atr": ")" + atr + R"(", "drivers": ")" + cardDrivers +
               R"(", "askpin": "true", "tryreusedriver": "true", "comment": "test card"})";
    };
    return R"({"version": "1.0.0.0", "linux": [)" + entry(kKnownAtr, drivers) + ", " +
           entry(kOtherAtr, "nessuno.so") + "]}";
}

// Processor time of the whole test program so far.
std::chrono::microseconds ProcessorTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto time = [](const timeval& value) {
        return std::chrono::seconds(value.tv_sec) + std::chrono::microseconds(value.tv_usec);
    };
    return time(usage.ru_utime) + time(usage.ru_stime);
}

class LiveReadersWindowTest : public WindowTest {
protected:
    // Lets the window's event loop run until `condition` holds; false when it never did.
    template <typename Condition>
    bool WindowShows(Condition condition) {
        return QTest::qWaitFor(condition, kWaitMs);
    }

    std::vector<std::string> Lines() const { return Items(window->m_messageList); }

    std::vector<std::string> Readers() const { return Items(window->m_readerCombo); }

    bool ButtonsEnabled() const { return window->m_testButton.IsWindowEnabled(); }

    // The log's text once the window, and with it the log, has ended.
    std::string LogAfterTheWindow() {
        window.reset();
        return ReadFile("Lumidor.log");
    }

    TempDir dir;
};

// ---- On the rig ----

class RigLiveReadersTest : public LiveReadersWindowTest {
protected:
    void SetUp() override {
        LiveReadersWindowTest::SetUp();
        module.SetScript("slot=1|1|" + RigReaderName(1) + "\ntoken.label=Prima\n");
    }
    ScriptedModule module{dir.path(), "modulo.so"};
};

TEST_F(RigLiveReadersTest, CardInsertedAndRemovedRefreshTheWindowByItself) {
    Open(Catalogue(module.path()));
    ASSERT_EQ(window->m_readerCombo.GetCurSel(), -1);

    auto card = std::make_unique<VirtualCard>(1, kKnownAtr);
    ASSERT_TRUE(WindowShows([&] { return Text(*window, IDC_ATR) == kKnownAtr; }));
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 1);
    EXPECT_EQ(Text(*window, IDC_DRIVER_PATH), module.path());
    EXPECT_TRUE(ButtonsEnabled());

    card->Remove();
    ASSERT_TRUE(WindowShows([&] { return Text(*window, IDC_ATR).empty(); }));
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), -1);
    EXPECT_EQ(Readers(), (std::vector<std::string>{RigReaderName(0), RigReaderName(1)}));
    EXPECT_EQ(Text(*window, IDC_DRIVER_PATH), "");
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(Lines().empty()) << "listed again, as by \"Aggiorna\"";

    const std::string log = LogAfterTheWindow();
    EXPECT_NE(log.find("Card inserted into '" + RigReaderName(1) + "'."), std::string::npos);
    EXPECT_NE(log.find("Card removed from '" + RigReaderName(1) + "'."), std::string::npos);
    EXPECT_NE(log.find("Readers or cards changed: listed again."), std::string::npos);
}

TEST_F(RigLiveReadersTest, ACardInsertedDuringACheckIsActedOnWhenTheCheckEnds) {
    // The module's start takes long enough for a card to go in while the check runs.
    module.SetScript("slot=1|1|" + RigReaderName(1) + "\nstart_delay_ms=2000\n");
    Open(Catalogue(module.path()));

    std::unique_ptr<VirtualCard> second;
    bool duringTheCheck = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (second == nullptr && module.Count("loads") > 0) {
            duringTheCheck = QApplication::overrideCursor() != nullptr;
            second = std::make_unique<VirtualCard>(0, kOtherAtr);
        }
    });
    poll.start(20);
    VirtualCard first(1, kKnownAtr);

    // Listed again once the check of the first card ended: the first reader holding a card
    // is now the other one.
    ASSERT_TRUE(WindowShows([&] { return Text(*window, IDC_ATR) == kOtherAtr; }));
    EXPECT_TRUE(duringTheCheck);
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 0);
    EXPECT_EQ(Text(*window, IDC_CARD_DRIVERS), "nessuno.so");
    EXPECT_EQ(module.Count("starts"), 1) << "the first check ran to its end, once";
}

// Each insertion is checked with the system's OpenSC, which the check starts and finalises:
// a day of cards going in and out leaves no PC/SC connection behind.
TEST_F(LiveReadersWindowTest, CardsComingAndGoingWithOpenScLeaveNoConnectionBehind) {
    const std::string state = dir.path() + "/card";
    auto card = std::make_unique<VirtualCard>(0, OpenPgpCard{state});
    Open(ReadFile(LUMIDOR_SOURCE_CARDLIST));
    ASSERT_TRUE(WindowShows([&] { return ButtonsEnabled(); }));
    auto takeOutAndPutBack = [&] {
        card->Remove();
        ASSERT_TRUE(WindowShows([&] { return Text(*window, IDC_ATR).empty(); }));
        card = std::make_unique<VirtualCard>(0, OpenPgpCard{state});
        ASSERT_TRUE(WindowShows([&] { return ButtonsEnabled(); }));
    };
    // Once the watcher has reported a change, its own connection is surely made.
    takeOutAndPutBack();
    const OpenDescriptors first = CountOpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        takeOutAndPutBack();
    }
    const OpenDescriptors last = CountOpenDescriptors();
    EXPECT_EQ(last.sockets, first.sockets);
    EXPECT_EQ(last.all, first.all);
    EXPECT_NE(Text(*window, IDC_DRIVER_PATH).find("opensc-pkcs11.so"), std::string::npos);
}

// A pcscd that hangs (stopped with SIGSTOP) does not hold the window's end: it closes, and
// the watcher's thread is left to end once pcscd answers again.
TEST_F(RigLiveReadersTest, TheWindowClosesWhilePcscdHangs) {
    Open(Catalogue(module.path()));
    ASSERT_EQ(Readers(), (std::vector<std::string>{RigReaderName(0), RigReaderName(1)}));
    FreezeRigService();
    struct Thaw {
        ~Thaw() { ThawRigService(); }
    } thaw;
    window.reset();
    EXPECT_NE(ReadFile("Lumidor.log")
                  .find("The PC/SC service does not answer: the reader watcher "
                        "is left to end by itself."),
              std::string::npos);
}

TEST_F(RigLiveReadersTest, ServiceStoppedAndStartedAgainIsSurvivedWithoutSpinning) {
    Open(Catalogue(module.path()));
    ASSERT_EQ(Readers().size(), 2u);

    StopRigService();
    const auto wallBefore = std::chrono::steady_clock::now();
    const auto processorBefore = ProcessorTime();
    // The outage lasts a few of the watcher's pauses; the window goes on meanwhile.
    QTest::qWait(3000);
    const auto processor = ProcessorTime() - processorBefore;
    const auto wall = std::chrono::steady_clock::now() - wallBefore;
    EXPECT_LT(processor, wall / 5) << "the whole program, in microseconds: " << processor.count();
    EXPECT_TRUE(window->GetWidget()->isVisible());

    StartRigService();
    VirtualCard card(1, kKnownAtr);
    ASSERT_TRUE(WindowShows([&] { return Text(*window, IDC_ATR) == kKnownAtr; }));
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 1);
    EXPECT_TRUE(ButtonsEnabled());

    const std::string log = LogAfterTheWindow();
    const std::size_t lost = log.find("PC/SC service lost");
    ASSERT_NE(lost, std::string::npos);
    EXPECT_EQ(log.find("PC/SC service lost", lost + 1), std::string::npos) << "logged once";
    EXPECT_NE(log.find("PC/SC service back.", lost), std::string::npos);
}

// ---- With a scripted PC/SC service ----

class FakeLiveReadersTest : public LiveReadersWindowTest {
protected:
    // Waits until the watcher has made more than `calls` status queries and waits again:
    // it has told the window of what it saw. The window's thread handles nothing meanwhile.
    bool WatcherWaitsAgainAfter(int calls) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (
            !pcsc.Locked([&] { return pcsc.getStatusChange.calls > calls && pcsc.Waits() == 1; })) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    int StatusCalls() {
        return pcsc.Locked([&] { return pcsc.getStatusChange.calls; });
    }

    FakePcsc pcsc;
};

TEST_F(FakeLiveReadersTest, ReadersThatAppearAndGoAwayAreListedByThemselves) {
    pcsc.readers = {"Lettore A"};
    Open(Catalogue("nessuno.so"));
    ASSERT_EQ(Readers(), std::vector<std::string>{"Lettore A"});
    // As with pcsc-lite 1.9.9, a reader added between the watcher's listing and its wait is
    // seen only when the wait ends: the reader comes once the watcher waits.
    ASSERT_TRUE(WatcherWaitsAgainAfter(0));

    pcsc.Locked([&] { pcsc.readers.push_back("Lettore B"); });
    ASSERT_TRUE(WindowShows([&] { return Readers().size() == 2; }));
    EXPECT_EQ(Readers(), (std::vector<std::string>{"Lettore A", "Lettore B"}));

    pcsc.Locked([&] {
        pcsc.readers = {"Lettore B"};
        pcsc.states["Lettore B"] = SCARD_STATE_PRESENT;
        pcsc.eventCounts["Lettore B"] = 1;
        pcsc.atrs["Lettore B"] = {0x3B, 0x02, 0x14, 0x51};
    });
    ASSERT_TRUE(WindowShows([&] { return Text(*window, IDC_ATR) == kOtherAtr; }));
    EXPECT_EQ(Readers(), std::vector<std::string>{"Lettore B"});
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 0);

    const std::string log = LogAfterTheWindow();
    EXPECT_NE(log.find("Reader 'Lettore B' appeared."), std::string::npos);
    EXPECT_NE(log.find("Reader 'Lettore A' went away."), std::string::npos);
}

TEST_F(FakeLiveReadersTest, AChangeWhileADialogIsOpenIsActedOnOnceItCloses) {
    pcsc.readers = {"Lettore A"};
    Open(Catalogue("nessuno.so"));
    ASSERT_TRUE(WatcherWaitsAgainAfter(0));

    std::vector<std::string> readersUnderTheDialog;
    ModalScript script([&](CDialogEx& dialog) {
        const int calls = StatusCalls();
        pcsc.Locked([&] { pcsc.readers.push_back("Lettore B"); });
        // The watcher has told the window (it waits again), and the window has had the news.
        ASSERT_TRUE(WatcherWaitsAgainAfter(calls));
        QCoreApplication::sendPostedEvents();
        readersUnderTheDialog = Readers();
        Click(dialog, IDOK);
    });
    window->SendSysCommand(IDM_ABOUTBOX);
    ASSERT_EQ(script.Runs(), 1);
    EXPECT_EQ(readersUnderTheDialog, std::vector<std::string>{"Lettore A"})
        << "nothing changes under the dialog";
    ASSERT_TRUE(WindowShows([&] { return Readers().size() == 2; }));
}

TEST_F(FakeLiveReadersTest, ABurstOfChangesListsTheReadersOnce) {
    pcsc.readers = {"Lettore A"};
    Open(Catalogue("nessuno.so"));
    ASSERT_TRUE(WatcherWaitsAgainAfter(0));
    // Each listing by the window opens a context of its own; the watcher keeps its one.
    const int listings = pcsc.Locked([&] { return pcsc.establishContext.calls; });

    // Three changes, each seen by the watcher, before the window's thread runs again.
    for (const char* reader : {"Lettore B", "Lettore C", "Lettore D"}) {
        const int calls = StatusCalls();
        pcsc.Locked([&] { pcsc.readers.push_back(reader); });
        ASSERT_TRUE(WatcherWaitsAgainAfter(calls));
    }
    ASSERT_TRUE(WindowShows([&] { return Readers().size() == 4; }));
    EXPECT_EQ(pcsc.Locked([&] { return pcsc.establishContext.calls; }) - listings, 1);
}

}  // namespace
