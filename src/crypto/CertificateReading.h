#pragma once

// What both certificate readers (OpenSSL's, crypt32's) share, so that they name key usages,
// word their problems and judge validity alike.

#include <cstddef>
#include <ctime>
#include <string>

#include "crypto/Certificate.h"

enum class KeyUsageRead { Read, Absent, Unreadable };

// The key usage bits set in a DER BIT STRING's content bytes (first bit the top bit of the
// first byte) by their Italian names, in bit order, ", " between them.
std::string KeyUsageText(const unsigned char* bits, std::size_t length);

// Sets `content`'s state at `now`, or its problem when the dates or the key usage were not
// read; the other fields are filled before.
void ConcludeReading(CertificateContent& content, bool datesRead, KeyUsageRead keyUsage,
                     std::time_t now);
