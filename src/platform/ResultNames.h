#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The symbolic names of a result code: PKCS#11 (CKR_*), PC/SC (SCARD_*) and the Windows
// system codes of the module loader (ERROR_*, see SystemText.h). A value can carry several:
// 0 is both CKR_OK and SCARD_S_SUCCESS, the loader's 5 and 193 are also CKR_GENERAL_ERROR
// and CKR_SIGNATURE_LEN_RANGE, and pcsc-lite gives SCARD_E_UNEXPECTED and
// SCARD_E_UNSUPPORTED_FEATURE one value. Empty for a value that has no name.
std::vector<std::string> ResultNames(uint32_t code);

// The names of ResultNames joined by " / ", or the empty text.
std::string ResultName(uint32_t code);

// The code as "0x" and eight upper-case hexadecimal digits.
std::string ResultHex(uint32_t code);
