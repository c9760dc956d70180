// lumidor-check as a child process on the rig, with the scriptable test module: the empty PIN
// line, and the signals that end it, at its PIN prompt and during a driver call that never
// returns. It runs on a pseudo-terminal of its own, as from a shell, so that its terminal's
// settings can be read after it ended.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/Command.h"
#include "support/TempDir.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kAtr = "3B021450";
// Generous: a wait fails only when what it waits for clearly never comes.
constexpr auto kBound = std::chrono::seconds(60);

std::string Catalogue(const std::string& module) {
    return std::string(R"({"version": "1.0.0.0", "linux": [{"type": "CCID", "atr": ")") + kAtr +
           R"(", "drivers": ")" + module +
           R"(", "askpin": "true", "tryreusedriver": "true", "comment": "test card"}]})";
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// lumidor-check-file-catalogue in the current directory, with a pseudo-terminal as its
// controlling terminal and standard input, output and error.
class CheckOnTerminal {
public:
    explicit CheckOnTerminal(const std::vector<std::string>& arguments) {
        if (openpty(&m_master, &m_terminal, nullptr, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        // Everything the child needs is prepared before fork: it only execs.
        std::vector<std::string> words = {LUMIDOR_CHECK_PROGRAM};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid < 0) {
            throw std::runtime_error("fork failed");
        }
        if (m_pid == 0) {
            setsid();
            ioctl(m_terminal, TIOCSCTTY, 0);
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
                dup2(m_terminal, fd);
            }
            close(m_master);
            close(m_terminal);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    ~CheckOnTerminal() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_master);
        close(m_terminal);
    }

    CheckOnTerminal(const CheckOnTerminal&) = delete;
    CheckOnTerminal& operator=(const CheckOnTerminal&) = delete;

    // Reads what the program writes until it holds `text`.
    bool WaitForOutput(const std::string& text) {
        return WaitUntil([&] {
            pollfd entry{m_master, POLLIN, 0};
            char buffer[512];
            while (poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0) {
                const ssize_t got = read(m_master, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                m_output.append(buffer, static_cast<std::size_t>(got));
            }
            return m_output.find(text) != std::string::npos;
        });
    }

    void Type(const std::string& keys) {
        ASSERT_EQ(write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    void Signal(int number) { kill(m_pid, number); }

    // The exit status; -1 when the program did not exit by itself in time.
    int Wait() {
        int status = 0;
        if (!WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; })) {
            return -1;
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The program is stopped (by a job-control signal).
    bool Stopped() {
        int status = 0;
        if (waitpid(m_pid, &status, WUNTRACED | WNOHANG) == m_pid && WIFSTOPPED(status)) {
            m_stopped = true;
        }
        return m_stopped;
    }

    bool EchoOn() const {
        termios settings{};
        return tcgetattr(m_terminal, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    }

    const std::string& Output() const { return m_output; }

private:
    int m_master = -1;
    int m_terminal = -1;
    pid_t m_pid = -1;
    bool m_stopped = false;
    std::string m_output;
};

struct Ending {
    const char* name;
    int signal;
    // How it reaches the program: keys on its terminal, or kill.
    std::function<void(CheckOnTerminal&)> send;
};

const std::vector<Ending>& Endings() {
    static const std::vector<Ending> endings = {
        {"Ctrl-C", SIGINT, [](CheckOnTerminal& check) { check.Type("\x03"); }},
        {"Ctrl-\\", SIGQUIT, [](CheckOnTerminal& check) { check.Type("\x1c"); }},
        {"SIGTERM", SIGTERM, [](CheckOnTerminal& check) { check.Signal(SIGTERM); }},
        {"SIGHUP", SIGHUP, [](CheckOnTerminal& check) { check.Signal(SIGHUP); }},
    };
    return endings;
}

class ConsoleCheckTest : public ::testing::Test {
protected:
    ConsoleCheckTest() { WriteFile("cardlist.json", Catalogue(module.path())); }

    VirtualCard card{0, kAtr};
    TempDir dir;
    ScriptedModule module{dir.path(), "modulo.so"};
};

TEST_F(ConsoleCheckTest, AnEmptyPinLineRunsNoTest) {
    for (const char* line : {"\n", "\r\n"}) {
        WriteFile("pin.txt", line);
        const CommandRun run = RunShell(LUMIDOR_CHECK_PROGRAM " --test < pin.txt");
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_NE(run.output.find("lumidor-check: PIN vuoto: nessun test eseguito.\n"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("Test di firma"), std::string::npos) << run.output;
    }
    EXPECT_EQ(module.Count("calls.C_Login"), 0);
}

TEST_F(ConsoleCheckTest, ASignalAtThePinPromptEndsItWithTheEchoBack) {
    for (const Ending& ending : Endings()) {
        SCOPED_TRACE(ending.name);
        std::remove("Lumidor.log");
        CheckOnTerminal check({"--test"});
        ASSERT_TRUE(check.WaitForOutput("PIN: ")) << check.Output();
        EXPECT_FALSE(check.EchoOn()) << "the prompt has the echo off";
        ending.send(check);
        EXPECT_EQ(check.Wait(), 128 + ending.signal) << check.Output();
        EXPECT_TRUE(check.EchoOn());
        EXPECT_NE(ReadFile("Lumidor.log").find("Card verified and running."), std::string::npos);
    }
    EXPECT_EQ(module.Count("calls.C_Login"), 0);
}

// Ctrl-Z at the PIN prompt, then the job continued: never an echoed PIN.
TEST_F(ConsoleCheckTest, StoppedAtThePinPromptItGivesTheEchoBackUntilItContinues) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer runs a signal handler only once its thread leaves the "
                    "blocking call it is in: the program at its prompt never takes the stop";
#endif
    module.SetScript("key=Firma|K1|0|0\n");
    CheckOnTerminal check({"--test"});
    ASSERT_TRUE(check.WaitForOutput("PIN: ")) << check.Output();
    ASSERT_FALSE(check.EchoOn());
    check.Type("\x1a");
    ASSERT_TRUE(WaitUntil([&] { return check.Stopped(); })) << "Ctrl-Z stops it";
    EXPECT_TRUE(check.EchoOn()) << "the shell gets its terminal back as it was";
    check.Signal(SIGCONT);
    ASSERT_TRUE(WaitUntil([&] { return !check.EchoOn(); })) << "the prompt's echo is off again";
    check.Type("1234\n");
    EXPECT_EQ(check.Wait(), 0) << check.Output();
    EXPECT_EQ(check.Output().find("1234"), std::string::npos) << check.Output();
    EXPECT_TRUE(check.EchoOn());
}

TEST_F(ConsoleCheckTest, ASignalDuringADriverCallThatNeverReturnsEndsItWithItsRecordsLogged) {
    struct Case {
        const char* name;
        const char* hangingCall;
        int signal;
        std::string lastRecord;  // the last the program logs before the call
    };
    const Case cases[] = {
        {"Ctrl-C in C_Initialize", "C_Initialize", SIGINT,
         "'" + module.path() + "' module successfully loaded."},
        {"SIGTERM in C_Initialize", "C_Initialize", SIGTERM,
         "'" + module.path() + "' module successfully loaded."},
        {"SIGTERM in C_Login, after the PIN", "C_Login", SIGTERM, "Starting smartcard test ..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove("Lumidor.log");
        module.ResetCounters();
        module.SetScript(std::string("hang=") + c.hangingCall + "\n");
        const std::string counter = std::string("calls.") + c.hangingCall;
        CheckOnTerminal check({"--test"});
        if (std::string(c.hangingCall) == "C_Login") {
            ASSERT_TRUE(check.WaitForOutput("PIN: ")) << check.Output();
            check.Type("1234\n");
        }
        ASSERT_TRUE(WaitUntil([&] { return module.Count(counter) == 1; })) << check.Output();
        if (c.signal == SIGINT) {
            check.Type("\x03");
        } else {
            check.Signal(c.signal);
        }
        EXPECT_EQ(check.Wait(), 128 + c.signal) << check.Output();
        EXPECT_TRUE(check.EchoOn());
        EXPECT_NE(ReadFile("Lumidor.log").find(c.lastRecord), std::string::npos);
    }
}

}  // namespace
