#include "catalogue/EmbeddedCatalogue.h"

// Without the compiled-in copy the manager reads cardlist.json; see NoEmbeddedCatalogue.cpp.
#ifdef LUMIDOR_EMBED_CATALOGUE
extern const unsigned char CardListData[];
extern const std::size_t CardListSize;

const char* EmbeddedCatalogue(std::size_t* size) {
    *size = CardListSize;
    return reinterpret_cast<const char*>(CardListData);
}
#else
const char* EmbeddedCatalogue(std::size_t* size) {
    *size = 0;
    return nullptr;
}
#endif
