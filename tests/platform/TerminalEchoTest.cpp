// The echo of standard input, with a pseudo-terminal or a pipe put in place of the test's own
// standard input.

#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "platform/TerminalEcho.h"

namespace {

// `fd` as standard input for the object's lifetime; the test's own afterwards.
class StandardInputFrom {
public:
    explicit StandardInputFrom(int fd) : m_saved(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
    ~StandardInputFrom() {
        dup2(m_saved, STDIN_FILENO);
        close(m_saved);
    }
    StandardInputFrom(const StandardInputFrom&) = delete;
    StandardInputFrom& operator=(const StandardInputFrom&) = delete;

private:
    int m_saved;
};

bool EchoOn(int terminal) {
    termios settings{};
    return tcgetattr(terminal, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

void (*StopHandler())(int) {
    struct sigaction action {};
    sigaction(SIGTSTP, nullptr, &action);
    return action.sa_handler;
}

TEST(TerminalEchoTest, OffOnATerminalUntilRestoredOrEnded) {
    int master = -1;
    int terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    const auto stopHandler = StopHandler();
    {
        const StandardInputFrom input(terminal);
        ASSERT_TRUE(EchoOn(terminal));
        {
            const EchoOff echoOff;
            EXPECT_TRUE(echoOff.Active());
            EXPECT_FALSE(EchoOn(terminal));
            EXPECT_NE(StopHandler(), stopHandler) << "a stop gives the echo back";
        }
        EXPECT_TRUE(EchoOn(terminal));
        EXPECT_EQ(StopHandler(), stopHandler);
        EXPECT_FALSE(RestoreTerminalEcho()) << "none in force";
        {
            const EchoOff echoOff;
            ASSERT_FALSE(EchoOn(terminal));
            EXPECT_TRUE(RestoreTerminalEcho());
            EXPECT_TRUE(EchoOn(terminal));
        }
        EXPECT_TRUE(EchoOn(terminal));
    }
    close(master);
    close(terminal);
}

TEST(TerminalEchoTest, NothingOnAPipe) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    {
        const StandardInputFrom input(ends[0]);
        const EchoOff echoOff;
        EXPECT_FALSE(echoOff.Active());
        EXPECT_FALSE(RestoreTerminalEcho());
    }
    close(ends[0]);
    close(ends[1]);
}

}  // namespace
