#pragma once

// The ids of the status-line templates of the string table (src/ui/stringtable.txt), by what
// each line says.

constexpr int kStatusDriverLoadError = 311;
constexpr int kStatusNoReaders = 313;
constexpr int kStatusConnectError = 314;
constexpr int kStatusAttributeError = 315;
constexpr int kStatusNoCard = 316;
constexpr int kStatusCardUnknown = 317;
constexpr int kStatusTestFailed = 318;
constexpr int kStatusReaderLibraryError = 319;
constexpr int kStatusDriverCallError = 320;
constexpr int kStatusTestPassed = 321;
constexpr int kStatusDriverFound = 322;
constexpr int kStatusFilterMatched = 323;
constexpr int kStatusKeyError = 324;
constexpr int kStatusNoEntryPoint = 330;
constexpr int kStatusSystemAtrList = 331;
constexpr int kStatusSystemDriver = 332;
constexpr int kStatusCardChanged = 333;
constexpr int kStatusNoService = 334;
constexpr int kStatusStartService = 335;
