#include "crypto/DerCertificateWindows.h"

#include <cstdio>

#include "crypto/DerValue.h"

DecodedCertificate DecodeCertificate(const unsigned char* der, std::size_t length) {
    DecodedCertificate decoded;
    if (der == nullptr || length == 0) {
        decoded.problem = "no certificate bytes";
        return decoded;
    }
    if (length > MAXDWORD) {
        decoded.problem = "the value is too long to be a certificate";
        return decoded;
    }
    // crypt32 does not say where the certificate ends and takes bytes after it silently.
    DerValue outer;
    if (!ReadDerValue(der, length, outer) || outer.tag != 0x30) {
        decoded.problem = "not a DER X.509 certificate (no complete DER SEQUENCE)";
        return decoded;
    }
    if (outer.totalLength != length) {
        decoded.problem = std::to_string(length - outer.totalLength) +
                          " bytes follow the certificate's DER value";
        return decoded;
    }
    CertificateContextPtr certificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(length)));
    if (!certificate) {
        // The code, not the system's text: the problem goes to the log in English.
        char code[48];
        std::snprintf(code, sizeof code, " (crypt32 error 0x%08lX)",
                      static_cast<unsigned long>(GetLastError()));
        decoded.problem = std::string("not a DER X.509 certificate") + code;
        decoded.refusedByDecoder = true;
        return decoded;
    }
    decoded.certificate = std::move(certificate);
    return decoded;
}
