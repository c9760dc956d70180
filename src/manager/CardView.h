#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue/CardDefinition.h"
#include "manager/TokenCertificates.h"
#include "manager/TokenDetails.h"

// Where the checked card's drivers came from: none when no card was identified, the
// catalogue's entry for its ATR, or (the catalogue having none) the system's modules.
enum class DriverSource { None, Catalogue, System };

// The card as the window and the console check show it after an operation: what the last
// card check, driver check or signing test found.
struct CardView {
    std::string readerName;
    std::string atr;
    DriverSource source = DriverSource::None;
    // The catalogue entry that identified the card, when one did.
    std::optional<CardDefinition> catalogueEntry;
    std::string cardDrivers;           // as the catalogue (or the system search) gives them
    std::vector<std::string> drivers;  // those that loaded
    std::string driverInUse;
    std::string driverPath;
    std::string driverVersion;
    TokenDetails token;
    std::vector<TokenCertificate> certificates;
};
