// A driver call that never returns (the test module's hang=C_Initialize, on the rig), with
// the main window in a child process of its own, since closing it ends the process: the
// window goes on handling events and painting, its indicator names the call, and its close
// box or Escape ends the program with every log record in the file.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "UiTest.h"
#include "log/Log.h"
#include "manager/PendingCall.h"
#include "support/CountOccurrences.h"
#include "support/TempDir.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"
#include "ui/LumidorDlg.h"

namespace {

constexpr const char* kAtr = "3B021450";
constexpr int kRecords = 2000;
// Generous bounds: they end a test only when what it waits for clearly never happens.
constexpr int kGiveUpMs = 60000;
constexpr auto kChildBound = std::chrono::seconds(120);
// Exit statuses of the child when the window did not end the program.
constexpr int kStillRunning = 90;
constexpr int kWindowEnded = 91;

enum class Closing { CloseBox, Escape };

void Report(int fd, const std::string& line) {
    const std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
}

std::string IndicatorText(QWidget* window) {
    QFrame* panel =
        window != nullptr ? window->findChild<QFrame*>(QStringLiteral("busyIndicator")) : nullptr;
    QLabel* text = panel != nullptr ? panel->findChild<QLabel*>() : nullptr;
    return text != nullptr && panel->isVisible() ? text->text().toStdString() : "";
}

// Counts the paint events of every widget while a module call is pending.
class PaintCounter : public QObject {
public:
    PaintCounter() { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && PendingModuleCall() != nullptr) {
            ++paints;
        }
        return false;
    }
};

// The child: the main window on the hanging module. Once the indicator names a call (or
// after kGiveUpMs), it reports what it saw, queues kRecords log records and closes the
// window, which must end the process.
[[noreturn]] void RunWindowUntilClosed(const std::string& catalogue, Closing closing,
                                       int reportFd) {
    TestApplication();
    CLumidorDlg window;
    window.m_manager.InitCardList(catalogue.size(), catalogue.data());

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (PendingModuleCall() != nullptr) {
            ++ticks;
        }
    });
    ticker.start(50);
    PaintCounter counter;

    QElapsedTimer waited;
    waited.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const std::string text = IndicatorText(window.GetWidget());
        if (text.rfind("In attesa del driver", 0) != 0 && waited.elapsed() < kGiveUpMs) {
            return;
        }
        watch.stop();
        Report(reportFd, "indicator=" + text);
        Report(reportFd, "ticks=" + std::to_string(ticks));
        Report(reportFd, "paints=" + std::to_string(counter.paints));
        for (int i = 0; i < kRecords; ++i) {
            LogMessage(0, 0, "HangingDriverTest", "record %05d", i);
        }
        Report(reportFd, "closing");
        if (closing == Closing::CloseBox) {
            window.GetWidget()->close();
        } else {
            QTest::keyClick(window.GetWidget(), Qt::Key_Escape);
        }
        Report(reportFd, "still running");
        _exit(kStillRunning);
    });
    watch.start(100);
    window.DoModal();
    Report(reportFd, "window ended");
    _exit(kWindowEnded);
}

struct ChildRun {
    int status = -1;  // exit status, -1 when it did not exit normally in time
    std::map<std::string, std::string> report;
    bool Said(const std::string& key) const { return report.count(key) != 0; }
    std::string Value(const std::string& key) const {
        auto found = report.find(key);
        return found != report.end() ? found->second : "(not reported)";
    }
};

// Reads the child's report until it ends (its end closes the pipe), then its exit status.
ChildRun CollectChild(pid_t pid, int reportFd) {
    ChildRun run;
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + kChildBound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{reportFd, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t got = read(reportFd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(reportFd);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find('=');
        run.report[line.substr(0, equals)] =
            equals == std::string::npos ? "" : line.substr(equals + 1);
    }
    return run;
}

TEST(HangingDriverTest, TheWindowGoesOnNamesTheCallAndClosingItEndsTheProgramWithTheLog) {
    struct Case {
        const char* name;
        Closing closing;
    };
    const Case cases[] = {{"close box", Closing::CloseBox}, {"Escape", Closing::Escape}};
    VirtualCard card(0, kAtr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;  // the child's current directory too: its Lumidor.log is here
        ScriptedModule module(dir.path(), "modulo.so");
        module.SetScript("slot=1|1|" + RigReaderName(0) + "\nhang=C_Initialize\n");
        const std::string catalogue =
            R"({"version": "1.0.0.0", "linux": [{"type": "CCID", "atr": ")" + std::string(kAtr) +
            R"(", "drivers": ")" + module.path() +
            R"(", "askpin": "true", "tryreusedriver": "true", "comment": "test card"}]})";

        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            RunWindowUntilClosed(catalogue, c.closing, fds[1]);
        }
        close(fds[1]);
        const ChildRun run = CollectChild(pid, fds[0]);

        EXPECT_EQ(run.status, 0) << "the close ended the program normally";
        EXPECT_TRUE(run.Said("closing"));
        EXPECT_FALSE(run.Said("still running"));
        EXPECT_FALSE(run.Said("window ended"));
        // The start named after 2 s, with its call after 5 s.
        EXPECT_EQ(run.Value("indicator"),
                  "In attesa del driver '" + module.path() + "' (C_Initialize)...");
        EXPECT_GT(std::atoi(run.Value("ticks").c_str()), 0) << "timers run during the hang";
        EXPECT_GT(std::atoi(run.Value("paints").c_str()), 0) << "the window paints meanwhile";
        EXPECT_EQ(module.Count("calls.C_Initialize"), 1);

        const std::string log = ReadFile("Lumidor.log");
        EXPECT_EQ(CountOccurrences(log, "|record "), static_cast<std::size_t>(kRecords));
        EXPECT_NE(log.find("|record 01999 "), std::string::npos);
        EXPECT_NE(log.find("Window closed during the operation (waiting for C_Initialize)"),
                  std::string::npos)
            << log;
    }
}

}  // namespace
