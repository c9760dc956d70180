#pragma once

// One byte of standard input into `byte`, read straight from the system so that no buffer of
// the C library keeps a copy of it (a PIN). False at the end of the input or on an error.
bool ReadStandardInputByte(char& byte);
