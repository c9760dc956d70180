#pragma once

// Whether a certificate's validity times are times, read from their text as OpenSSL reads
// it, for decoders that take texts that are none (crypt32 under Wine reads "2213XX" as 22:13).

#include <cstddef>

// False when the validity of the DER certificate holds a UTCTime or GeneralizedTime whose
// text is no time; true otherwise, also when the validity cannot be found (the certificate's
// decoder judges such bytes).
bool ValidityTimesAreTimes(const unsigned char* der, std::size_t length);
