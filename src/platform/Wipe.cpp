#include "platform/Wipe.h"

#include <string.h>  // explicit_bzero

void Wipe(std::string& text) {
    text.resize(text.capacity());
    explicit_bzero(text.data(), text.size());
    text.clear();
}
