#include "support/TestCertificates.h"

#include <json/json.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/Command.h"
#include "support/TempDir.h"

namespace {

// The bytes a hex text spells; the maker writes only whole, valid pairs.
std::string HexBytes(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

}  // namespace

TestCertificates::TestCertificates(const std::string& directory) {
    const CommandRun run = RunShell(std::string(LUMIDOR_PYTHON) + " " + LUMIDOR_CERTIFICATE_MAKER +
                                    " --out '" + directory + "'");
    Json::Value manifest;
    std::istringstream text(ReadFile(directory + "/manifest.json"));
    Json::CharReaderBuilder reader;
    std::string errors;
    if (run.status != 0 || !Json::parseFromStream(reader, text, &manifest, &errors)) {
        throw std::runtime_error("make_test_certificates.py: " + run.output + errors);
    }
    auto path = [&directory](const Json::Value& name) { return directory + "/" + name.asString(); };
    m_caCertificateDer = path(manifest["ca"]["certificate_der"]);
    m_caCertificatePem = path(manifest["ca"]["certificate_pem"]);
    m_caPrivateKeyPem = path(manifest["ca"]["private_key_pem"]);
    for (const Json::Value& entry : manifest["certificates"]) {
        TestCertificate certificate;
        certificate.name = entry["name"].asString();
        certificate.idHex = entry["id"].asString();
        certificate.id = HexBytes(certificate.idHex);
        certificate.commonName = entry["cn"].asString();
        certificate.keyType = entry["key_type"].asString();
        certificate.validFrom = entry["not_before_epoch"].asInt64();
        certificate.validUntil = entry["not_after_epoch"].asInt64();
        certificate.certificateDer = path(entry["certificate_der"]);
        certificate.privateKeyPem = path(entry["private_key_pem"]);
        certificate.privateKeyDer = path(entry["private_key_der"]);
        certificate.publicKeyPem = path(entry["public_key_pem"]);
        certificate.publicKeyDer = path(entry["public_key_der"]);
        m_certificates.push_back(certificate);
    }
}

const TestCertificate& TestCertificates::Get(const std::string& name) const {
    for (const TestCertificate& certificate : m_certificates) {
        if (certificate.name == name)
            return certificate;
    }
    throw std::out_of_range("no test certificate named " + name);
}
