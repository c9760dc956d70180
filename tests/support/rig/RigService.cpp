#include "support/rig/RigService.h"

#include <stdexcept>
#include <string>

#include "support/Command.h"

namespace {

void RunRig(const std::string& arguments) {
    const CommandRun run = RunShell(std::string(LUMIDOR_PYTHON " " LUMIDOR_RIG_SCRIPT " ") +
                                    arguments + " --dir " LUMIDOR_RIG_DIR " 2>&1");
    if (run.status != 0) {
        throw std::runtime_error("rig.py " + arguments + " failed:\n" + run.output);
    }
}

}  // namespace

void StopRigService() {
    RunRig("stop");
}

void StartRigService() {
    RunRig("start --isolation " LUMIDOR_PCSCD_ISOLATION);
}
