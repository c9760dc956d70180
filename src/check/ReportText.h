#pragma once

// The check's report as the console shows it: UTF-8 text, byte for byte what the manager
// and the card gave, whatever the locale.

#include <string>

#include "check/CheckReport.h"

// Readers, the checked card and its driver, the token, certificates, status lines and the
// "Risultato:" line.
std::string CheckText(const CheckReport& report);

// The signing test's status lines and its "Risultato del test:" line; empty without a test.
std::string TestText(const CheckReport& report);

// The last result line: the test's when it ran, else the check's.
std::string VerdictLine(const CheckReport& report);
