#include "crypto/DerCertificateOpenSsl.h"

#include <openssl/err.h>

#include <climits>

DecodedCertificate DecodeCertificate(const unsigned char* der, std::size_t length) {
    DecodedCertificate decoded;
    if (der == nullptr || length == 0) {
        decoded.problem = "no certificate bytes";
        return decoded;
    }
    if (length > LONG_MAX) {
        decoded.problem = "the value is too long to be a certificate";
        return decoded;
    }
    const unsigned char* end = der;
    X509Ptr certificate(d2i_X509(nullptr, &end, static_cast<long>(length)));
    if (!certificate) {
        // The earliest error names the fault itself; the later ones only the enclosing types.
        const char* reason = ERR_reason_error_string(ERR_peek_error());
        decoded.problem = "not a DER X.509 certificate";
        if (reason != nullptr) {
            decoded.problem += std::string(" (") + reason + ")";
        }
        ERR_clear_error();
        return decoded;
    }
    const std::size_t used = static_cast<std::size_t>(end - der);
    if (used != length) {
        decoded.problem =
            std::to_string(length - used) + " bytes follow the certificate's DER value";
        return decoded;
    }
    decoded.certificate = std::move(certificate);
    return decoded;
}
