#include "support/rig/RigService.h"

#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "support/Command.h"
#include "support/TempDir.h"

namespace {

void RunRig(const std::string& arguments) {
    const CommandRun run = RunShell(std::string(LUMIDOR_PYTHON " " LUMIDOR_RIG_SCRIPT " ") +
                                    arguments + " --dir " LUMIDOR_RIG_DIR " 2>&1");
    if (run.status != 0) {
        throw std::runtime_error("rig.py " + arguments + " failed:\n" + run.output);
    }
}

// The rig pcscd's process id, as rig.py recorded it.
pid_t RigServicePid() {
    const std::string text = ReadFile(LUMIDOR_RIG_DIR "/rig.pid");
    const long pid = std::strtol(text.c_str(), nullptr, 10);
    if (pid <= 0) {
        throw std::runtime_error("no rig pcscd recorded in " LUMIDOR_RIG_DIR "/rig.pid");
    }
    return static_cast<pid_t>(pid);
}

void SignalRigService(int number) {
    if (kill(RigServicePid(), number) != 0) {
        throw std::runtime_error("the rig's pcscd could not be signalled");
    }
}

}  // namespace

void StopRigService() {
    RunRig("stop");
}

void StartRigService() {
    RunRig("start --isolation " LUMIDOR_PCSCD_ISOLATION);
}

void FreezeRigService() {
    SignalRigService(SIGSTOP);
}

void ThawRigService() {
    SignalRigService(SIGCONT);
}
