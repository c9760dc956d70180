#!/bin/sh
# Writes the certificate fuzz target's seeds into directory $1, made fresh with openssl: an EC
# and an RSA certificate, each followed by a value as long as its key's signature, and an EC
# curve OID followed by a point, wrapped in an OCTET STRING and bare.
set -eu
cd "$1"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec.key \
    -subj "/CN=Seme di prova/O=Lumidor" -addext "keyUsage=digitalSignature,nonRepudiation" \
    -days 30 -outform DER -out ec-certificate 2>/dev/null
# Valid until after 2049: the end date is a GeneralizedTime.
openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa.key -subj "/CN=CA di prova" \
    -addext "keyUsage=keyCertSign,cRLSign" -days 36500 -outform DER -out rsa-certificate \
    2>/dev/null

# r||s for P-256 is 64 bytes; an RSA-2048 signature 256.
{ cat ec-certificate; openssl dgst -sha512 -binary ec-certificate; } >ec-certificate-signature
{ cat rsa-certificate; openssl dgst -sha256 -sign rsa.key rsa-certificate; } \
    >rsa-certificate-signature

# The uncompressed point is the last 65 bytes of the key's SubjectPublicKeyInfo.
openssl pkey -in ec.key -pubout -outform DER -out public-key
tail -c 65 public-key >point
openssl ecparam -name prime256v1 -outform DER >curve
{ cat curve; printf '\004\101'; cat point; } >curve-wrapped-point
cat curve point >curve-bare-point
rm ec.key rsa.key public-key point curve
