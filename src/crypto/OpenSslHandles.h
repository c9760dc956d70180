#pragma once

// OpenSSL objects owned by unique_ptr, so that every return path frees them.

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/x509.h>

#include <memory>

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslFree<OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, OpenSslFree<OSSL_PARAM_free>>;
using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslFree<ASN1_OBJECT_free>>;
using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, OpenSslFree<ASN1_OCTET_STRING_free>>;
using Asn1BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, OpenSslFree<ASN1_BIT_STRING_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OpenSslFree<ECDSA_SIG_free>>;

// Bytes OpenSSL allocated for the caller (OPENSSL_free is a macro, not a function).
struct OpenSslBytesFree {
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslBytesFree>;
