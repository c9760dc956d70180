#pragma once

#include <cstdint>
#include <string>

// The catalogue entry that identified a card.
struct CardDefinition {
    std::string atr;
    std::string atrMask;
    std::string drivers;
    int32_t askPin = 0;
    int32_t tryReuseDriver = 0;
    std::string filter;
    std::string reader;
};
