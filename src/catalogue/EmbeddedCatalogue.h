#pragma once

#include <cstddef>

// The catalogue compiled into the program, or null (size 0) in a build without it.
const char* EmbeddedCatalogue(std::size_t* size);
