#pragma once

// How many bytes one DER value spans, for readers whose decoder does not say where the value
// ends.

#include <cstddef>

// The length of the DER value (tag, length and content) that starts at `der`; 0 when the
// `length` bytes hold no complete value with a definite length.
std::size_t DerValueLength(const unsigned char* der, std::size_t length);
