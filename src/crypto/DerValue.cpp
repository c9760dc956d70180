#include "crypto/DerValue.h"

bool ReadDerValue(const unsigned char* der, std::size_t length, DerValue& value) {
    // One tag byte (a high tag number, 0x1F, takes more: no certificate has one) and the
    // first length byte.
    if (der == nullptr || length < 2 || (der[0] & 0x1F) == 0x1F) {
        return false;
    }
    std::size_t header = 2;
    std::size_t content = der[1];
    if (content > 0x7F) {
        // 0x80 is BER's indefinite length; 0x81..0x8N give the length in the next N bytes.
        const std::size_t lengthBytes = content & 0x7F;
        if (lengthBytes == 0 || lengthBytes > sizeof(std::size_t) ||
            length - header < lengthBytes) {
            return false;
        }
        content = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) {
            content = (content << 8) | der[header + i];
        }
        header += lengthBytes;
    }
    if (content > length - header) {
        return false;
    }
    value.tag = der[0];
    value.content = der + header;
    value.contentLength = content;
    value.totalLength = header + content;
    return true;
}
