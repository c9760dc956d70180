#pragma once

// Keys, certificates and signatures made with OpenSSL for the tests of the certificate reader
// and the signature check.

#include <ctime>
#include <string>

#include "crypto/OpenSslHandles.h"
#include "crypto/SignatureCheck.h"

EvpPkeyPtr NewRsaKey(unsigned bits);
// An RSASSA-PSS key (RFC 4055): RSA that allows PSS padding only.
EvpPkeyPtr NewRsaPssKey(unsigned bits);
// `curve` as OpenSSL names it ("P-256").
EvpPkeyPtr NewEcKey(const char* curve);

// The parts of a certificate a test chooses.
struct CertificateFields {
    std::string subjectCommonName = "Mario Rossi";
    std::string subjectOrganization;  // left out when empty
    std::string issuerCommonName = "CA di prova";
    std::time_t validFrom = 1700000000;
    std::time_t validUntil = 1800000000;
    // In OpenSSL's configuration form ("digitalSignature,nonRepudiation"); no extension when
    // empty.
    std::string keyUsage;
    std::string serialHex = "01";  // may start with '-'
};

// A DER certificate of `subjectKey`'s public half, signed with `issuerKey`.
Bytes MakeCertificate(const CertificateFields& fields, EVP_PKEY* subjectKey, EVP_PKEY* issuerKey);

// The RSA key's CKA_MODULUS and CKA_PUBLIC_EXPONENT.
Bytes RsaModulus(EVP_PKEY* key);
Bytes RsaExponent(EVP_PKEY* key);
// The EC key's CKA_EC_PARAMS (its curve's OID in DER) and its point, uncompressed and bare.
Bytes EcParameters(EVP_PKEY* key);
Bytes EcPoint(EVP_PKEY* key);
// The point as CKA_EC_POINT normally holds it: in a DER OCTET STRING.
Bytes WrappedEcPoint(EVP_PKEY* key);

// What a token returns for CKM_RSA_PKCS: PKCS#1 v1.5 padding over `data` itself.
Bytes RsaPkcs1Signature(EVP_PKEY* key, const Bytes& data);
// What a token returns for CKM_ECDSA over `data` as given: r||s, each as long as the order.
Bytes EcdsaSignature(EVP_PKEY* key, const Bytes& data);
