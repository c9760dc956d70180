#pragma once

// The catalogue keeps one array of cards per operating system; this program looks up only
// the array of the system it runs on.
#if defined(_WIN32)
inline constexpr const char* kCatalogueArray = "windows";
#elif defined(__APPLE__)
inline constexpr const char* kCatalogueArray = "osx";
#else
inline constexpr const char* kCatalogueArray = "linux";
#endif
