#include "catalogue/EmbeddedCatalogue.h"

const char* EmbeddedCatalogue(std::size_t* size) {
    *size = 0;
    return nullptr;
}
