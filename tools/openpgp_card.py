"""The OpenPGP card application (version 3.4) of Lumidor's virtual card, with RSA 2048 keys.

    card = OpenPgpCard(state_directory)   # creates the state on first use
    card.power()                          # power on or reset: access rights are lost
    answer = card.respond(apdu)           # response data + status word

What it implements: SELECT of the application by AID, GET DATA of the data objects that
middleware reads (application related data 6E and its parts, cardholder data 65, URL 5F50, login
data 5E, security support template 7A, key information DE, historical bytes 5F52, cardholder
certificate 7F21), SELECT DATA (of the certificate's instances 0 to 2), VERIFY for PW1 (81 signing, 82 other) and PW3 (83), CHANGE REFERENCE
DATA, GENERATE ASYMMETRIC KEY PAIR in read mode only (P1 81), PSO: COMPUTE DIGITAL SIGNATURE,
PSO: DECIPHER, INTERNAL AUTHENTICATE, MANAGE SECURITY ENVIRONMENT (the decryption and
authentication keys swapped for DECIPHER / INTERNAL AUTHENTICATE), GET CHALLENGE and GET
RESPONSE. Other instructions answer 6D00. Short and extended length commands; an answer longer
than Le of a short command is continued with 61xx and GET RESPONSE. Command chaining is not
announced and is refused (6884).

PINs: a wrong PIN answers 6982 and costs one try, a right one restores the tries; a blocked PIN
answers 6983; VERIFY without data answers 9000 when verified, else 63Cx (x tries left) or 6983.
PW1 is one PIN with one retry counter for both of its uses. The signing PIN (VERIFY 81) is
valid for one signature only (PW status byte 1 is 00); SELECT, reset and power-off forget every
verification.

The ATR is the one OpenSC lists as "OpenPGP card v3.x"; the AID carries manufacturer FFFF (a
test card) and the state's serial number.

State: DIR/openpgp-card.json (STATE_FILE), created on first use with a random serial number and
new keys, written again (to a temporary file, then renamed over it) after every change:
    serial             the card's serial number, 8 hexadecimal digits
    pw1, pw3           the user PIN (first "123456") and the admin PIN (first "12345678")
    pw1_retries        tries left for PW1 (3 at first; 0 = blocked)
    rc_retries         tries left for the resetting code (0: none is set)
    pw3_retries        tries left for PW3 (3 at first)
    signature_counter  signatures made with the signing key
    keys               "sig", "dec", "aut": {"pem": the private key (PKCS#8 PEM),
                                             "created": its generation time (Unix seconds)}
    certificate        the cardholder certificate (PEM): self-signed, CN "Titolare OpenPGP",
                       for the authentication key, as OpenSC pairs DO 7F21 with key 3. Served
                       (DER) by GET DATA 7F21 as instance 0, the one selected at first; instances
                       1 and 2 are empty. A state from before it gets one when loaded
"""

import datetime
import hashlib
import json
import os
import secrets
import tempfile
import time

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID

STATE_FILE = "openpgp-card.json"

ATR = bytes.fromhex("3B DA 18 FF 81 B1 FE 75 1F 03 00 31 F5 73 C0 01 60 00 90 00 1C")
# As in the ATR (extended Lc/Le, no command chaining), with life cycle status 05: operational.
HISTORICAL_BYTES = bytes.fromhex("00 31 F5 73 C0 01 60 05 90 00")
AID_PREFIX = bytes.fromhex("D2 76 00 01 24 01")
VERSION = bytes.fromhex("03 04")
MANUFACTURER = bytes.fromhex("FF FF")

DEFAULT_PW1, DEFAULT_PW3 = "123456", "12345678"
CARDHOLDER_CN = "Titolare OpenPGP"
CERTIFICATE_DAYS = 3650
MAX_RETRIES = 3
PW1_MIN, PW3_MIN, PW_MAX = 6, 8, 127
KEY_BITS = 2048
# Up to 40 % of the modulus, as for INTERNAL AUTHENTICATE.
AUTHENTICATE_LIMIT = KEY_BITS // 8 * 2 // 5
MAX_CHALLENGE = 255
MAX_LENGTH = 2048  # the longest command and answer, announced in 7F66

# Status words
OK = 0x9000
WRONG_LENGTH = 0x6700
CHAINING_NOT_SUPPORTED = 0x6884
SECURITY_NOT_SATISFIED = 0x6982
BLOCKED = 0x6983
CONDITIONS_NOT_SATISFIED = 0x6985
INCORRECT_DATA = 0x6A80
NOT_FOUND = 0x6A82
DATA_NOT_FOUND = 0x6A88
WRONG_P1P2 = 0x6B00
INS_NOT_SUPPORTED = 0x6D00
CLA_NOT_SUPPORTED = 0x6E00

# The key slots and their control reference templates (B6, B8, A4).
SLOTS = {0xB6: "sig", 0xB8: "dec", 0xA4: "aut"}
PIN_FIELDS = {0x81: ("pw1", "pw1_retries"), 0x82: ("pw1", "pw1_retries"),
              0x83: ("pw3", "pw3_retries")}


class CardError(Exception):
    def __init__(self, status_word):
        super().__init__(f"{status_word:04X}")
        self.status_word = status_word


class Command:
    """One command APDU: header, data and Le (None when absent), short or extended length."""

    def __init__(self, raw):
        if len(raw) < 4:
            raise CardError(WRONG_LENGTH)
        self.cla, self.ins, self.p1, self.p2 = raw[:4]
        self.data, self.le = parse_body(raw[4:])


def parse_body(body):
    """The data and Le of a command's body (after the header)."""
    if not body:
        return b"", None
    if len(body) == 1:
        return b"", body[0] or 256
    if body[0] != 0:
        length, rest = body[0], body[1:]
        if len(rest) == length:
            return rest, None
        if len(rest) == length + 1:
            return rest[:-1], rest[-1] or 256
        raise CardError(WRONG_LENGTH)
    # Extended length: Lc and Le take two bytes each, after a first byte 00.
    if len(body) == 3:
        return b"", int.from_bytes(body[1:3], "big") or 65536
    length, rest = int.from_bytes(body[1:3], "big"), body[3:]
    if length and len(rest) == length:
        return rest, None
    if length and len(rest) == length + 2:
        return rest[:-2], int.from_bytes(rest[-2:], "big") or 65536
    raise CardError(WRONG_LENGTH)


def tlv(tag, value):
    size = len(value)
    if size < 0x80:
        length = bytes([size])
    elif size < 0x100:
        length = bytes([0x81, size])
    else:
        length = bytes([0x82]) + size.to_bytes(2, "big")
    return tag.to_bytes(2 if tag > 0xFF else 1, "big") + length + value


def mpi(number):
    """An OpenPGP multiprecision integer: bit count, then the bytes."""
    return number.bit_length().to_bytes(2, "big") + number.to_bytes((number.bit_length() + 7) // 8,
                                                                     "big")


def fingerprint(public_numbers, created):
    """The key's OpenPGP version 4 fingerprint (as the RSA key of a public-key packet)."""
    body = (bytes([4]) + created.to_bytes(4, "big") + bytes([1])
            + mpi(public_numbers.n) + mpi(public_numbers.e))
    return hashlib.sha1(b"\x99" + len(body).to_bytes(2, "big") + body).digest()


def rsa_private_operation(key, value):
    numbers = key.private_numbers()
    n = numbers.public_numbers.n
    if value >= n:
        raise CardError(INCORRECT_DATA)
    # The Chinese remainder theorem: two half-size exponentiations instead of one.
    m1 = pow(value, numbers.dmp1, numbers.p)
    m2 = pow(value, numbers.dmq1, numbers.q)
    h = numbers.iqmp * (m1 - m2) % numbers.p
    return m2 + h * numbers.q


def sign_pkcs1(key, message):
    """PKCS#1 v1.5 signature (block type 1) over the given DigestInfo or raw data."""
    size = key.key_size // 8
    if len(message) > size - 11:
        raise CardError(WRONG_LENGTH)
    block = b"\x00\x01" + b"\xff" * (size - 3 - len(message)) + b"\x00" + message
    result = rsa_private_operation(key, int.from_bytes(block, "big"))
    return result.to_bytes(size, "big")


def decrypt_pkcs1(key, cryptogram):
    """RSA decryption with PKCS#1 v1.5 padding (block type 2) removed."""
    size = key.key_size // 8
    if len(cryptogram) != size:
        raise CardError(WRONG_LENGTH)
    block = rsa_private_operation(key, int.from_bytes(cryptogram, "big")).to_bytes(size, "big")
    separator = block.find(b"\x00", 2)
    if block[:2] != b"\x00\x02" or separator < 10:
        raise CardError(INCORRECT_DATA)
    return block[separator + 1:]


def new_key_record():
    key = rsa.generate_private_key(public_exponent=65537, key_size=KEY_BITS)
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                            serialization.NoEncryption())
    return {"pem": pem.decode(), "created": int(time.time())}


def new_certificate(key_record):
    """A self-signed certificate (PEM) for the key of a key record, from its creation on."""
    key = serialization.load_pem_private_key(key_record["pem"].encode(), None)
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, CARDHOLDER_CN)])
    start = datetime.datetime.fromtimestamp(key_record["created"], datetime.timezone.utc)
    certificate = (
        x509.CertificateBuilder()
        .subject_name(name).issuer_name(name).public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(start)
        .not_valid_after(start + datetime.timedelta(days=CERTIFICATE_DAYS))
        .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False,
                                     key_encipherment=False, data_encipherment=False,
                                     key_agreement=False, key_cert_sign=False, crl_sign=False,
                                     encipher_only=False, decipher_only=False), critical=True)
        .sign(key, hashes.SHA256()))
    return certificate.public_bytes(serialization.Encoding.PEM).decode()


def new_state():
    keys = {slot: new_key_record() for slot in SLOTS.values()}
    return {
        "serial": secrets.token_hex(4).upper(),
        "pw1": DEFAULT_PW1,
        "pw3": DEFAULT_PW3,
        "pw1_retries": MAX_RETRIES,
        "rc_retries": 0,
        "pw3_retries": MAX_RETRIES,
        "signature_counter": 0,
        "keys": keys,
        "certificate": new_certificate(keys["aut"]),
    }


def write_state(directory, state):
    # A reader of the file (or a later card) sees the old state or the new one, never a part.
    descriptor, temporary = tempfile.mkstemp(prefix=STATE_FILE + ".", dir=directory)
    try:
        with os.fdopen(descriptor, "w") as f:
            json.dump(state, f, indent=2)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, os.path.join(directory, STATE_FILE))
    except BaseException:
        os.unlink(temporary)
        raise


def load_state(directory):
    """The card's state in `directory`, created there first when there is none."""
    os.makedirs(directory, exist_ok=True)
    try:
        with open(os.path.join(directory, STATE_FILE)) as f:
            state = json.load(f)
    except FileNotFoundError:
        state = new_state()
        write_state(directory, state)
        return state
    if "certificate" not in state:
        state["certificate"] = new_certificate(state["keys"]["aut"])
        write_state(directory, state)
    return state


class OpenPgpCard:
    atr = ATR

    def __init__(self, directory):
        self.directory = directory
        self.state = load_state(directory)
        self.keys = {slot: serialization.load_pem_private_key(record["pem"].encode(), None)
                     for slot, record in self.state["keys"].items()}
        self.certificate = x509.load_pem_x509_certificate(
            self.state["certificate"].encode()).public_bytes(serialization.Encoding.DER)
        self.aid = (AID_PREFIX + VERSION + MANUFACTURER + bytes.fromhex(self.state["serial"])
                    + b"\x00\x00")
        self.handlers = {
            0xA4: self.select, 0xA5: self.select_data, 0xCA: self.get_data,
            0x20: self.verify, 0x24: self.change_reference_data,
            0x47: self.generate_key_pair, 0x2A: self.perform_security_operation,
            0x88: self.internal_authenticate, 0x22: self.manage_security_environment,
            0x84: self.get_challenge, 0xC0: self.get_response,
        }
        self.power()

    def power(self):
        """Power on or reset: the volatile state starts again."""
        self.verified = set()
        self.decipher_key, self.authenticate_key = "dec", "aut"
        self.certificate_instance = 0
        self.pending = b""

    def save(self):
        write_state(self.directory, self.state)

    # Dispatch and the answer's length

    def respond(self, raw):
        try:
            command = Command(raw)
            if command.cla & 0x10:
                raise CardError(CHAINING_NOT_SUPPORTED)
            if command.cla != 0x00:
                raise CardError(CLA_NOT_SUPPORTED)
            if command.ins != 0xC0:
                self.pending = b""
            handler = self.handlers.get(command.ins)
            if handler is None:
                raise CardError(INS_NOT_SUPPORTED)
            return self.deliver(handler(command) or b"", command.le)
        except CardError as error:
            return error.status_word.to_bytes(2, "big")

    def deliver(self, data, le):
        limit = le or 0
        if len(data) <= limit:
            return data + OK.to_bytes(2, "big")
        # More than the command asked for: the rest waits for GET RESPONSE.
        self.pending = data[limit:]
        return data[:limit] + bytes([0x61, min(len(self.pending), 256) & 0xFF])

    def get_response(self, command):
        if (command.p1, command.p2) != (0, 0):
            raise CardError(WRONG_P1P2)
        if not self.pending:
            raise CardError(CONDITIONS_NOT_SATISFIED)
        data, self.pending = self.pending, b""
        return data

    # Selection and data objects

    def select(self, command):
        if command.p1 != 0x04:
            raise CardError(NOT_FOUND)
        if len(command.data) < len(AID_PREFIX) or not self.aid.startswith(command.data):
            raise CardError(NOT_FOUND)
        self.power()

    def select_data(self, command):
        # Only the cardholder certificate has instances (P1); the first holds the certificate.
        if command.p1 > 2 or command.p2 != 0x04:
            raise CardError(WRONG_P1P2)
        if command.data != bytes.fromhex("60 04 5C 02 7F 21"):
            raise CardError(DATA_NOT_FOUND)
        self.certificate_instance = command.p1

    def get_data(self, command):
        value = self.data_object((command.p1 << 8) | command.p2)
        if value is None:
            raise CardError(DATA_NOT_FOUND)
        return value

    def data_object(self, tag):
        """The value of a readable data object, or None."""
        builders = {
            0x004F: lambda: self.aid,
            0x005E: lambda: b"",
            0x5F50: lambda: b"",
            0x5F52: lambda: HISTORICAL_BYTES,
            0x0065: self.cardholder_data,
            0x006E: self.application_data,
            0x007A: lambda: tlv(0x93, self.state["signature_counter"].to_bytes(3, "big")),
            0x00C4: self.pw_status,
            0x7F21: lambda: self.certificate if self.certificate_instance == 0 else b"",
            0x7F66: self.extended_length_information,
        }
        builder = builders.get(tag)
        return builder() if builder else None

    def cardholder_data(self):
        return tlv(0x5B, b"") + tlv(0x5F2D, b"en") + tlv(0x5F35, b"9")

    def extended_length_information(self):
        return tlv(0x02, MAX_LENGTH.to_bytes(2, "big")) * 2

    def pw_status(self):
        # Byte 1 00: the signing PIN holds for one signature.
        return bytes([0x00, PW_MAX, PW_MAX, PW_MAX, self.state["pw1_retries"],
                      self.state["rc_retries"], self.state["pw3_retries"]])

    def application_data(self):
        slots = ("sig", "dec", "aut")
        records = [self.state["keys"][slot] for slot in slots]
        fingerprints = b"".join(
            fingerprint(self.keys[slot].public_key().public_numbers(), record["created"])
            for slot, record in zip(slots, records))
        times = b"".join(record["created"].to_bytes(4, "big") for record in records)
        # RSA, modulus bits, public exponent bits, import format standard (e, p, q).
        attributes = bytes([0x01]) + KEY_BITS.to_bytes(2, "big") + bytes([0x00, 0x20, 0x00])
        # GET CHALLENGE supported; no secure messaging; the longest challenge, certificate and
        # login/URL data; no PIN block format 2; MANAGE SECURITY ENVIRONMENT supported.
        capabilities = (bytes([0x40, 0x00]) + MAX_CHALLENGE.to_bytes(2, "big")
                        + MAX_LENGTH.to_bytes(2, "big") + (255).to_bytes(2, "big")
                        + bytes([0x00, 0x01]))
        discretionary = (tlv(0xC0, capabilities)
                         + tlv(0xC1, attributes) + tlv(0xC2, attributes) + tlv(0xC3, attributes)
                         + tlv(0xC4, self.pw_status())
                         + tlv(0xC5, fingerprints) + tlv(0xC6, bytes(60))
                         + tlv(0xCD, times)
                         # Key information: keys 1 to 3 generated on the card.
                         + tlv(0xDE, bytes([1, 1, 2, 1, 3, 1])))
        return (tlv(0x4F, self.aid) + tlv(0x5F52, HISTORICAL_BYTES)
                + tlv(0x7F66, self.extended_length_information()) + tlv(0x73, discretionary))

    # PINs

    def verify(self, command):
        if command.p1 == 0xFF and not command.data and command.p2 in PIN_FIELDS:
            self.verified.discard(command.p2)
            return
        if command.p1 != 0x00 or command.p2 not in PIN_FIELDS:
            raise CardError(WRONG_P1P2)
        if not command.data:
            if command.p2 in self.verified:
                return
            retries = self.state[PIN_FIELDS[command.p2][1]]
            raise CardError(0x63C0 | retries if retries else BLOCKED)
        self.check_pin(command.p2, command.data)
        self.verified.add(command.p2)

    def check_pin(self, reference, given):
        """Compares a PIN and counts the try; raises when it is wrong or blocked."""
        pin_field, retries_field = PIN_FIELDS[reference]
        if self.state[retries_field] == 0:
            raise CardError(BLOCKED)
        if given != self.pin(pin_field):
            self.state[retries_field] -= 1
            self.save()
            for lost in ((0x81, 0x82) if pin_field == "pw1" else (0x83,)):
                self.verified.discard(lost)
            raise CardError(SECURITY_NOT_SATISFIED)
        if self.state[retries_field] != MAX_RETRIES:
            self.state[retries_field] = MAX_RETRIES
            self.save()

    def pin(self, pin_field):
        return self.state[pin_field].encode("latin-1")

    def set_pin(self, pin_field, new):
        shortest = PW1_MIN if pin_field == "pw1" else PW3_MIN
        if not shortest <= len(new) <= PW_MAX:
            raise CardError(WRONG_LENGTH)
        self.state[pin_field] = new.decode("latin-1")
        self.save()

    def change_reference_data(self, command):
        if command.p1 != 0x00 or command.p2 not in (0x81, 0x83):
            raise CardError(WRONG_P1P2)
        pin_field, _ = PIN_FIELDS[command.p2]
        old_length = len(self.pin(pin_field))
        old, new = command.data[:old_length], command.data[old_length:]
        self.check_pin(command.p2, old)
        self.set_pin(pin_field, new)

    # Keys

    def generate_key_pair(self, command):
        if (command.p1, command.p2) != (0x81, 0x00):
            raise CardError(WRONG_P1P2)
        if not command.data or command.data[0] not in SLOTS:
            raise CardError(INCORRECT_DATA)
        numbers = self.keys[SLOTS[command.data[0]]].public_key().public_numbers()
        modulus = numbers.n.to_bytes(KEY_BITS // 8, "big")
        exponent = numbers.e.to_bytes((numbers.e.bit_length() + 7) // 8, "big")
        return tlv(0x7F49, tlv(0x81, modulus) + tlv(0x82, exponent))

    def manage_security_environment(self, command):
        # Only the swap of the decryption and authentication keys: 83 01 <key 2 or 3>.
        if command.p1 != 0x41 or command.p2 not in (0xA4, 0xB8):
            raise CardError(WRONG_P1P2)
        if len(command.data) != 3 or command.data[:2] != b"\x83\x01" \
                or command.data[2] not in (2, 3):
            raise CardError(INCORRECT_DATA)
        slot = "dec" if command.data[2] == 2 else "aut"
        if command.p2 == 0xB8:
            self.decipher_key = slot
        else:
            self.authenticate_key = slot

    def perform_security_operation(self, command):
        if (command.p1, command.p2) == (0x9E, 0x9A):
            return self.compute_digital_signature(command)
        if (command.p1, command.p2) == (0x80, 0x86):
            return self.decipher(command)
        raise CardError(WRONG_P1P2)

    def compute_digital_signature(self, command):
        if 0x81 not in self.verified:
            raise CardError(SECURITY_NOT_SATISFIED)
        signature = sign_pkcs1(self.keys["sig"], command.data)
        # PW status byte 1 is 00: the signing PIN is used up by this signature.
        self.verified.discard(0x81)
        self.state["signature_counter"] = min(self.state["signature_counter"] + 1, 0xFFFFFF)
        self.save()
        return signature

    def decipher(self, command):
        if 0x82 not in self.verified:
            raise CardError(SECURITY_NOT_SATISFIED)
        if not command.data or command.data[0] != 0x00:
            raise CardError(INCORRECT_DATA)  # only RSA: padding indicator 00
        return decrypt_pkcs1(self.keys[self.decipher_key], command.data[1:])

    def internal_authenticate(self, command):
        if (command.p1, command.p2) != (0x00, 0x00):
            raise CardError(WRONG_P1P2)
        if 0x82 not in self.verified:
            raise CardError(SECURITY_NOT_SATISFIED)
        if len(command.data) > AUTHENTICATE_LIMIT:
            raise CardError(WRONG_LENGTH)
        return sign_pkcs1(self.keys[self.authenticate_key], command.data)

    def get_challenge(self, command):
        if (command.p1, command.p2) != (0x00, 0x00):
            raise CardError(WRONG_P1P2)
        if command.le is None or command.le > MAX_CHALLENGE:
            raise CardError(WRONG_LENGTH)
        return secrets.token_bytes(command.le)
