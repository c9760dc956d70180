#include "platform/StandardInput.h"

#include <windows.h>

// With the console's echo off (TerminalEcho.h), the console still reads a line at a time;
// each call takes one byte of it.
bool ReadStandardInputByte(char& byte) {
    DWORD got = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) != 0 && got == 1;
}
