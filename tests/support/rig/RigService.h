#pragma once

// Stops and starts the rig's own pcscd (tools/rig.py) while a test runs, as when the PC/SC
// service of the machine stops or restarts. Only for tests that hold the rig
// (LUMIDOR_RIG_PROPERTIES). Each throws std::runtime_error with the script's output when it
// fails.

// Ends the rig's pcscd (by its recorded process id); its socket goes with it.
void StopRigService();
// Starts it anew with the same two readers, on the same ports when they are free; returns
// once pcscd lists them.
void StartRigService();
// Stops the rig's pcscd in its tracks (SIGSTOP), as a service that hangs: it keeps its socket
// and answers nothing until it is continued (SIGCONT).
void FreezeRigService();
void ThawRigService();
