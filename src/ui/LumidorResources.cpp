#include "ui/LumidorResources.h"

#include <cstddef>
#include <string>

#include "ui/framework/ProgramResources.h"
#include "ui/resource.h"

// Made by the build from dialogs.txt and lumidor.png (lumidor_embed).
extern const unsigned char DialogTemplatesData[];
extern const std::size_t DialogTemplatesSize;
extern const unsigned char LumidorIconData[];
extern const std::size_t LumidorIconSize;

namespace {

std::string Bytes(const unsigned char* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace

void RegisterLumidorResources() {
    RegisterResources({Bytes(DialogTemplatesData, DialogTemplatesSize),
                       {{IDR_MAINFRAME, Bytes(LumidorIconData, LumidorIconSize)}}});
}
