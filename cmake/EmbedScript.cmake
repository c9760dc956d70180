# Run in script mode by lumidor_embed: writes OUTPUT with the bytes of INPUT.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}
    "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n\n"
    "extern const unsigned char ${SYMBOL}Data[] = {\n${bytes}0x00};\n"
    "extern const std::size_t ${SYMBOL}Size = ${size};\n")
