#pragma once

#include <string>

// What a shell command did.
struct CommandRun {
    int status = -1;     // the exit status, -1 when the command did not end normally
    std::string output;  // standard output and error together
};

CommandRun RunShell(const std::string& command);

// Runs a shell command; its standard output and error together.
std::string RunCommand(const std::string& command);
