#include "ui/framework/BusyWork.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <thread>

#include "log/Log.h"
#include "ui/framework/BusyIndicator.h"
#include "ui/framework/Controls.h"
#include "ui/framework/InputBlocker.h"
#include "ui/framework/ProgramEnd.h"

namespace {

constexpr const char* kSource = "CDialogEx::RunBusy";
constexpr auto kShowIndicatorAfter = std::chrono::milliseconds(500);
// How soon the work's lines and its end are seen.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

struct WorkOutcome {
    uint32_t result = 0;
    std::exception_ptr error;
};

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// What the work waits for (a driver call) cannot be interrupted: the program ends here
// rather than wait for what may never come.
[[noreturn]] void EndOnClose(const BusyWait& wait) {
    const std::string awaited = wait.logName ? wait.logName() : "nothing named";
    LogMessage(0, 0, kSource,
               "Window closed during the operation (waiting for %s): the program ends without "
               "waiting for it.",
               awaited.c_str());
    EndProgramNow(0);
}

// The work on a thread of its own, while this thread's event loop runs on and shows the
// work's lines; back once the work has returned or thrown, with all of them shown.
WorkOutcome RunOnWorker(const std::function<uint32_t()>& work, CListBox& statusList) {
    WorkOutcome outcome;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            outcome.result = work();
        } catch (...) {
            outcome.error = std::current_exception();
        }
        done = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        statusList.ShowPendingLines();
        if (done) {
            loop.exit();
        }
    });
    poll.start(kPollInterval);
    loop.exec();
    worker.join();
    statusList.ShowPendingLines();
    return outcome;
}

WorkOutcome RunWhileBusy(QWidget* window, const BusyWait& wait, CListBox& statusList,
                         const std::function<uint32_t()>& work) {
    InputBlocker blocker(window, [&wait] { EndOnClose(wait); });
    WaitCursor cursor;
    BusyIndicator indicator(window, kShowIndicatorAfter, wait.indicatorText);
    return RunOnWorker(work, statusList);
}

// The exception's own text, what(); none for one that is no std::exception.
std::optional<std::string> ExceptionText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return std::string(exception.what());
    } catch (...) {
        return std::nullopt;
    }
}

void ReportFailure(const std::exception_ptr& error, CListBox& statusList) {
    // After std::bad_alloc memory may still be short: the window then goes on without the
    // report rather than let a second exception out into Qt's event loop.
    try {
        const std::optional<std::string> text = ExceptionText(error);
        LogMessage(static_cast<int32_t>(kBusyWorkFailed), 0, kSource,
                   "The operation ended with an exception: %s",
                   text ? text->c_str() : "not a std::exception");
        statusList.AddLine("Errore interno durante l'operazione: " +
                           text.value_or("eccezione sconosciuta"));
    } catch (...) {
    }
}

}  // namespace

uint32_t RunBusyWork(QWidget* window, const BusyWait& wait, CListBox& statusList,
                     const std::function<uint32_t()>& work) {
    WorkOutcome outcome = RunWhileBusy(window, wait, statusList, work);
    if (outcome.error) {
        ReportFailure(outcome.error, statusList);
        return kBusyWorkFailed;
    }
    return outcome.result;
}
