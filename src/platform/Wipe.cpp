#include "platform/Wipe.h"

#include <string.h>  // explicit_bzero

void WipeBytes(void* data, std::size_t size) {
    explicit_bzero(data, size);
}

void Wipe(std::string& text) {
    text.resize(text.capacity());
    WipeBytes(text.data(), text.size());
    text.clear();
}
