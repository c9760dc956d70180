#include "crypto/NistCurvePoint.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace {

// Little-endian 32-bit limbs, one more than the prime needs, so that a sum of two values
// below the prime never overflows.
using Limbs = std::vector<uint32_t>;

struct CurveConstants {
    std::size_t length;
    std::string_view prime;  // big-endian hexadecimal, `length` bytes
    std::string_view b;
};

// The field primes and the b coefficients of FIPS 186-4, D.1.2 (a is the prime less 3).
const CurveConstants& Constants(NistCurve curve) {
    static const CurveConstants kP256{
        32, "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff",
        "5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b"};
    static const CurveConstants kP384{
        48,
        "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffeffffffff0000000000000000"
        "ffffffff",
        "b3312fa7e23ee7e4988e056be3f82d19181d9c6efe8141120314088f5013875ac656398d8a2ed19d2a85c8ed"
        "d3ec2aef"};
    static const CurveConstants kP521{
        66,
        "01ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
        "ffffffffffffffffffffffffffffffffffffffffff",
        "0051953eb9618e1c9a1f929a21a0b68540eea2da725b99b315f3b8b489918ef109e156193951ec7e937b1652"
        "c0bd3bb1bf073573df883d2c34f1ef451fd46b503f00"};
    switch (curve) {
        case NistCurve::P256:
            return kP256;
        case NistCurve::P384:
            return kP384;
        case NistCurve::P521:
            break;
    }
    return kP521;
}

std::size_t LimbCount(std::size_t length) {
    return (length + 3) / 4 + 1;
}

Limbs FromBytes(const unsigned char* bytes, std::size_t length) {
    Limbs limbs(LimbCount(length), 0);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t fromEnd = length - 1 - i;
        limbs[fromEnd / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (fromEnd % 4));
    }
    return limbs;
}

Limbs FromHex(std::string_view hex) {
    std::vector<unsigned char> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        bytes[i] = static_cast<unsigned char>(digit(hex[2 * i]) * 16 + digit(hex[2 * i + 1]));
    }
    return FromBytes(bytes.data(), bytes.size());
}

bool Less(const Limbs& a, const Limbs& b) {
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) {
            return a[i] < b[i];
        }
    }
    return false;
}

void Add(Limbs& a, const Limbs& b) {
    uint64_t carry = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        carry += static_cast<uint64_t>(a[i]) + b[i];
        a[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
}

// a - b for a >= b.
void Subtract(Limbs& a, const Limbs& b) {
    int64_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int64_t difference = static_cast<int64_t>(a[i]) - b[i] - borrow;
        borrow = difference < 0 ? 1 : 0;
        a[i] = static_cast<uint32_t>(difference + (borrow << 32));
    }
}

// a + b mod p, for a and b below p.
void AddModulo(Limbs& a, const Limbs& b, const Limbs& p) {
    Add(a, b);
    if (!Less(a, p)) {
        Subtract(a, p);
    }
}

// a - b mod p, for a and b below p.
void SubtractModulo(Limbs& a, const Limbs& b, const Limbs& p) {
    if (Less(a, b)) {
        Add(a, p);
    }
    Subtract(a, b);
}

// a * b mod p by doubling and adding over b's bits: slow, but only a few products are needed.
Limbs MultiplyModulo(const Limbs& a, const Limbs& b, const Limbs& p) {
    Limbs result(a.size(), 0);
    for (std::size_t bit = 32 * b.size(); bit-- > 0;) {
        const Limbs doubled = result;
        AddModulo(result, doubled, p);
        if ((b[bit / 32] >> (bit % 32)) & 1) {
            AddModulo(result, a, p);
        }
    }
    return result;
}

}  // namespace

std::size_t NistCoordinateLength(NistCurve curve) {
    return Constants(curve).length;
}

bool PointOnNistCurve(NistCurve curve, const unsigned char* x, const unsigned char* y) {
    const CurveConstants& constants = Constants(curve);
    const Limbs p = FromHex(constants.prime);
    const Limbs b = FromHex(constants.b);
    const Limbs px = FromBytes(x, constants.length);
    const Limbs py = FromBytes(y, constants.length);
    if (!Less(px, p) || !Less(py, p)) {
        return false;
    }
    const Limbs left = MultiplyModulo(py, py, p);
    Limbs right = MultiplyModulo(MultiplyModulo(px, px, p), px, p);
    AddModulo(right, b, p);
    Limbs threeX = px;
    AddModulo(threeX, px, p);
    AddModulo(threeX, px, p);
    SubtractModulo(right, threeX, p);
    return left == right;
}
