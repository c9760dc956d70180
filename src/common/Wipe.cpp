#include "common/Wipe.h"

#include "platform/SecureZero.h"

void Wipe(std::string& text) {
    text.resize(text.capacity());
    SecureZero(text.data(), text.size());
    text.clear();
}
