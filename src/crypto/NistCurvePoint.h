#pragma once

// Whether a public point lies on its NIST prime curve, for verifiers that take any point
// (CNG under Wine imports points that lie on no curve).

#include <cstddef>

enum class NistCurve { P256, P384, P521 };

// Bytes of a coordinate on `curve`: 32, 48 or 66.
std::size_t NistCoordinateLength(NistCurve curve);

// True when the big-endian coordinates `x` and `y`, NistCoordinateLength bytes each, are
// below the field prime and satisfy y^2 = x^3 - 3x + b (FIPS 186-4, D.1.2).
bool PointOnNistCurve(NistCurve curve, const unsigned char* x, const unsigned char* y);
