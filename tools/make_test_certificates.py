#!/usr/bin/python3
"""Makes the fixed set of test certificates: a CA and user certificates it signed.

    make_test_certificates.py --out DIR

Run with Debian's /usr/bin/python3 (python3-cryptography). The structure is fixed; the keys
are new at every run, and the dates of the certificates valid "now" follow the clock.

The CA: "ca.key.pem" (PKCS#8), "ca.cert.der", "ca.cert.pem"; subject CN "Lumidor Test CA",
O "Lumidor"; RSA 2048, valid 2019-01-01 .. 2100-01-01.

The user certificates, subject O "Lumidor Test", key usage digitalSignature and
nonRepudiation unless the table says otherwise, signed by the CA with SHA-256:

    name      CKA_ID  CN                key          validity
    valid     a101    Mario Rossi       RSA 2048     now-365d .. now+730d
    expired   a102    Anna Scaduta      RSA 2048     2020-01-01 .. 2021-01-01
    expiring  a103    Luca Inscadenza   RSA 2048     now-365d .. now+10d
    notyet    a104    Futura Bianchi    RSA 2048     2090-01-01 .. 2095-01-01
    nokey     a105    Senza Chiave      RSA 2048     now-365d .. now+730d  (its key is meant
                                                     to be put on no token)
    ec        a106    Elena Curva       EC P-256     now-365d .. now+730d
    oldca     a107    Vecchia CA        RSA 2048     2010-01-01 .. 2020-01-01  (an authority:
                                                     basicConstraints cA, keyCertSign, cRLSign)
    cipher    a108    Cifra Soltanto    RSA 2048     2020-01-01 .. 2021-01-01  (key usage
                                                     keyEncipherment only)
    nousage   a109    Senza Uso         RSA 2048     2020-01-01 .. 2021-01-01  (no key usage
                                                     extension)

Each has "<name>.key.pem" (private key, PKCS#8 PEM), "<name>.key.der" (the same in DER),
"<name>.pub.pem" and "<name>.pub.der" (SubjectPublicKeyInfo), "<name>.cert.der" (the
certificate). Dates are whole seconds, UTC.

"manifest.json" lists them all, so that tests need not work the dates out again:
    {"ca": {"cn", "certificate_der", "certificate_pem", "private_key_pem"},
     "certificates": [{"name", "id", "cn", "organization", "key_type" ("rsa"/"ec"), "serial",
                       "not_before", "not_after" (ISO 8601, UTC), "not_before_epoch",
                       "not_after_epoch", "private_key_pem", "private_key_der",
                       "public_key_pem", "public_key_der", "certificate_der"}, ...]}
File names in the manifest are relative to DIR.
"""

import argparse
import datetime
import json
import os

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa
from cryptography.x509.oid import NameOID

CA_CN = "Lumidor Test CA"
CA_ORGANIZATION = "Lumidor"
CA_NOT_BEFORE = datetime.datetime(2019, 1, 1, tzinfo=datetime.timezone.utc)
CA_NOT_AFTER = datetime.datetime(2100, 1, 1, tzinfo=datetime.timezone.utc)
USER_ORGANIZATION = "Lumidor Test"

# name, CKA_ID, CN, key type, validity: (days before now, days after now) or two dates,
# extensions: "signing" (a user's signing certificate), "authority", "encryption" or "none".
CERTIFICATES = [
    ("valid", "a101", "Mario Rossi", "rsa", (365, 730), "signing"),
    ("expired", "a102", "Anna Scaduta", "rsa", ((2020, 1, 1), (2021, 1, 1)), "signing"),
    ("expiring", "a103", "Luca Inscadenza", "rsa", (365, 10), "signing"),
    ("notyet", "a104", "Futura Bianchi", "rsa", ((2090, 1, 1), (2095, 1, 1)), "signing"),
    ("nokey", "a105", "Senza Chiave", "rsa", (365, 730), "signing"),
    ("ec", "a106", "Elena Curva", "ec", (365, 730), "signing"),
    ("oldca", "a107", "Vecchia CA", "rsa", ((2010, 1, 1), (2020, 1, 1)), "authority"),
    ("cipher", "a108", "Cifra Soltanto", "rsa", ((2020, 1, 1), (2021, 1, 1)), "encryption"),
    ("nousage", "a109", "Senza Uso", "rsa", ((2020, 1, 1), (2021, 1, 1)), "none"),
]

# The basic constraints and key usage of each kind of certificate; None: no such extension.
EXTENSIONS = {
    "signing": (x509.BasicConstraints(ca=False, path_length=None),
                {"digital_signature": True, "content_commitment": True}),
    "authority": (x509.BasicConstraints(ca=True, path_length=None),
                  {"key_cert_sign": True, "crl_sign": True}),
    "encryption": (x509.BasicConstraints(ca=False, path_length=None),
                   {"key_encipherment": True}),
    "none": (None, None),
}


def new_key(key_type):
    if key_type == "ec":
        return ec.generate_private_key(ec.SECP256R1())
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def validity(period, now):
    start, end = period
    if isinstance(start, tuple):
        return (datetime.datetime(*start, tzinfo=datetime.timezone.utc),
                datetime.datetime(*end, tzinfo=datetime.timezone.utc))
    return now - datetime.timedelta(days=start), now + datetime.timedelta(days=end)


def key_usage(**granted):
    """A key usage extension with the granted bits set and every other bit clear."""
    bits = dict.fromkeys(("digital_signature", "content_commitment", "key_encipherment",
                          "data_encipherment", "key_agreement", "key_cert_sign", "crl_sign",
                          "encipher_only", "decipher_only"), False)
    bits.update(granted)
    return x509.KeyUsage(**bits)


def name(cn, organization):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn),
                      x509.NameAttribute(NameOID.ORGANIZATION_NAME, organization)])


def write(directory, file_name, data):
    with open(os.path.join(directory, file_name), "wb") as out:
        out.write(data)
    return file_name


def private_key_bytes(key, encoding):
    return key.private_bytes(encoding, serialization.PrivateFormat.PKCS8,
                             serialization.NoEncryption())


def public_key_bytes(key, encoding):
    return key.public_key().public_bytes(encoding,
                                         serialization.PublicFormat.SubjectPublicKeyInfo)


def make_ca(directory):
    key = new_key("rsa")
    subject = name(CA_CN, CA_ORGANIZATION)
    certificate = (
        x509.CertificateBuilder()
        .subject_name(subject).issuer_name(subject)
        .public_key(key.public_key()).serial_number(1)
        .not_valid_before(CA_NOT_BEFORE).not_valid_after(CA_NOT_AFTER)
        .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
        .add_extension(key_usage(key_cert_sign=True, crl_sign=True), critical=True)
        .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()),
                       critical=False)
        .sign(key, hashes.SHA256()))
    entry = {
        "cn": CA_CN,
        "private_key_pem": write(directory, "ca.key.pem",
                                 private_key_bytes(key, serialization.Encoding.PEM)),
        "certificate_der": write(directory, "ca.cert.der",
                                 certificate.public_bytes(serialization.Encoding.DER)),
        "certificate_pem": write(directory, "ca.cert.pem",
                                 certificate.public_bytes(serialization.Encoding.PEM)),
    }
    return key, certificate, entry


def make_user(directory, ca_key, ca_certificate, serial, entry, now):
    label, key_id, cn, key_type, dates, kind = entry
    key = new_key(key_type)
    not_before, not_after = validity(dates, now)
    constraints, usage = EXTENSIONS[kind]
    builder = (
        x509.CertificateBuilder()
        .subject_name(name(cn, USER_ORGANIZATION)).issuer_name(ca_certificate.subject)
        .public_key(key.public_key()).serial_number(serial)
        .not_valid_before(not_before).not_valid_after(not_after))
    if constraints is not None:
        builder = builder.add_extension(constraints, critical=True)
    if usage is not None:
        builder = builder.add_extension(key_usage(**usage), critical=True)
    certificate = (
        builder
        .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()),
                       critical=False)
        .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(ca_key.public_key()),
                       critical=False)
        .sign(ca_key, hashes.SHA256()))
    pem, der = serialization.Encoding.PEM, serialization.Encoding.DER
    return {
        "name": label,
        "id": key_id,
        "cn": cn,
        "organization": USER_ORGANIZATION,
        "key_type": key_type,
        "serial": serial,
        "not_before": not_before.isoformat(),
        "not_after": not_after.isoformat(),
        "not_before_epoch": int(not_before.timestamp()),
        "not_after_epoch": int(not_after.timestamp()),
        "private_key_pem": write(directory, label + ".key.pem", private_key_bytes(key, pem)),
        "private_key_der": write(directory, label + ".key.der", private_key_bytes(key, der)),
        "public_key_pem": write(directory, label + ".pub.pem", public_key_bytes(key, pem)),
        "public_key_der": write(directory, label + ".pub.der", public_key_bytes(key, der)),
        "certificate_der": write(directory, label + ".cert.der", certificate.public_bytes(der)),
    }


def main():
    parser = argparse.ArgumentParser(description="Makes the fixed set of test certificates.")
    parser.add_argument("--out", required=True, help="directory to write into")
    arguments = parser.parse_args()
    os.makedirs(arguments.out, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    ca_key, ca_certificate, ca_entry = make_ca(arguments.out)
    entries = [make_user(arguments.out, ca_key, ca_certificate, serial, entry, now)
               for serial, entry in enumerate(CERTIFICATES, start=2)]
    manifest = {"ca": ca_entry, "certificates": entries}
    write(arguments.out, "manifest.json", json.dumps(manifest, indent=2).encode())


if __name__ == "__main__":
    main()
