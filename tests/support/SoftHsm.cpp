#include "support/SoftHsm.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>

#include "support/Command.h"
#include "support/TempDir.h"

bool SoftHsmToken::Installed() {
    return std::filesystem::exists(kModule);
}

SoftHsmToken::SoftHsmToken(const std::string& directory, const std::string& label) {
    std::filesystem::create_directories(directory + "/tokens");
    WriteFile(directory + "/softhsm2.conf", "directories.tokendir = " + directory +
                                                "/tokens\nobjectstore.backend = file\n"
                                                "log.level = ERROR\n");
    setenv("SOFTHSM2_CONF", (directory + "/softhsm2.conf").c_str(), 1);
    std::string output = RunCommand("softhsm2-util --init-token --free --label '" + label +
                                    "' --pin 123456 --so-pin 654321");
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("reassigned to slot ([0-9]+)"))) {
        unsetenv("SOFTHSM2_CONF");
        throw std::runtime_error("softhsm2-util: " + output);
    }
    m_slot = std::stoul(match[1]);
    // The token's own block of the slot listing holds its serial number.
    std::string slots = RunCommand("softhsm2-util --show-slots");
    std::regex serial("Slot " + std::to_string(m_slot) +
                      "\\n(?:.*\\n)*?\\s*Serial number:[ \\t]*([0-9a-fA-F]+)");
    if (!std::regex_search(slots, match, serial)) {
        unsetenv("SOFTHSM2_CONF");
        throw std::runtime_error("softhsm2-util --show-slots: " + slots);
    }
    m_serial = match[1];
}

SoftHsmToken::~SoftHsmToken() {
    unsetenv("SOFTHSM2_CONF");
}

void SoftHsmToken::Import(ObjectType type, const std::string& file, const std::string& idHex,
                          const std::string& label) const {
    const char* typeName = type == ObjectType::kCertificate  ? "cert"
                           : type == ObjectType::kPrivateKey ? "privkey"
                                                             : "pubkey";
    const CommandRun run =
        RunShell(std::string("pkcs11-tool --module ") + kModule + " --slot " +
                 std::to_string(m_slot) + " --login --pin 123456 --write-object '" + file +
                 "' --type " + typeName + " --id " + idHex + " --label '" + label + "'");
    if (run.status != 0) {
        throw std::runtime_error("pkcs11-tool --write-object: " + run.output);
    }
}
