// Linked into every test program: before main, PC/SC clients of the program are pointed at
// the rig's own pcscd, so that no test ever talks to (or disturbs) a pcscd of the machine.
// pcsc-lite reads the variable once, at its first call.

#include <cstdlib>

namespace {

__attribute__((constructor)) void UseRigService() {
    setenv("PCSCLITE_CSOCK_NAME", LUMIDOR_RIG_DIR "/run/pcscd.comm", 1);
}

}  // namespace
