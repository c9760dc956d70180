#!/usr/bin/python3
"""The virtual OpenPGP card's own rules, which OpenSC's self-test does not reach: PIN tries
kept in the state file and blocking, the signing PIN used up by one signature, a long
answer to a short command continued by GET RESPONSE, and the cardholder certificate."""

import hashlib
import json
import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "tools"))

from cryptography import x509  # noqa: E402
from cryptography.hazmat.primitives import hashes, serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import padding, rsa  # noqa: E402

import openpgp_card  # noqa: E402


def verify(reference, pin=""):
    data = pin.encode()
    return bytes([0x00, 0x20, 0x00, reference]) + (bytes([len(data)]) + data if data else b"")


def status(answer):
    return answer[-2:].hex().upper()


SHA256_PREFIX = bytes.fromhex("3031300D060960864801650304020105000420")
MESSAGE = b"Lumidor"
DIGEST_INFO = SHA256_PREFIX + hashlib.sha256(MESSAGE).digest()
SIGN = bytes.fromhex("002A9E9A") + bytes([len(DIGEST_INFO)]) + DIGEST_INFO + b"\x00"
READ_SIGNING_KEY_EXTENDED = bytes.fromhex("00 47 81 00 00 00 02 B6 00 00 00")
READ_SIGNING_KEY_SHORT = bytes.fromhex("00 47 81 00 02 B6 00 00")
READ_AUTHENTICATION_KEY = bytes.fromhex("00 47 81 00 00 00 02 A4 00 00 00")
GET_CERTIFICATE = bytes.fromhex("00 CA 7F 21 00 00 00")


def select_certificate(instance):
    return bytes([0x00, 0xA5, instance, 0x04, 0x06]) + bytes.fromhex("60 04 5C 02 7F 21")


class OpenPgpCardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # New keys take a while: every test starts from a copy of one new state.
        cls.template = tempfile.mkdtemp(prefix="lumidor-openpgp-")
        openpgp_card.load_state(cls.template)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.template)

    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="lumidor-openpgp-")
        self.addCleanup(shutil.rmtree, self.directory)
        shutil.copy(os.path.join(self.template, openpgp_card.STATE_FILE), self.directory)
        self.card = openpgp_card.OpenPgpCard(self.directory)

    def state(self):
        with open(os.path.join(self.directory, openpgp_card.STATE_FILE)) as f:
            return json.load(f)

    def test_pin_tries_are_counted_in_the_state_and_a_pin_blocks_at_zero(self):
        # Each command, its status word, then PW1's and PW3's tries in the state file.
        steps = [
            (verify(0x81), "63C3", 3, 3),
            (verify(0x82, "654321"), "6982", 2, 3),
            (verify(0x81), "63C2", 2, 3),
            (verify(0x83, "87654321"), "6982", 2, 2),
            (verify(0x82, "123456"), "9000", 3, 2),
            (verify(0x82), "9000", 3, 2),
            (verify(0x81), "63C3", 3, 2),
            (verify(0x83, "12345678"), "9000", 3, 3),
            (verify(0x81, "000000"), "6982", 2, 3),
            (verify(0x82), "63C2", 2, 3),
            (verify(0x83), "9000", 2, 3),
            (verify(0x81, "000000"), "6982", 1, 3),
            (verify(0x82, "000000"), "6982", 0, 3),
            (verify(0x81, "123456"), "6983", 0, 3),
            (verify(0x82), "6983", 0, 3),
        ]
        for number, (command, expected, pw1, pw3) in enumerate(steps):
            with self.subTest(step=number, command=command.hex()):
                self.assertEqual(status(self.card.respond(command)), expected)
                state = self.state()
                self.assertEqual((state["pw1_retries"], state["pw3_retries"]), (pw1, pw3))
        again = openpgp_card.OpenPgpCard(self.directory)
        self.assertEqual(status(again.respond(verify(0x82, "123456"))), "6983")

    def test_the_signing_pin_holds_for_one_signature(self):
        steps = [
            (SIGN, "6982"),
            (verify(0x82, "123456"), "9000"),
            (SIGN, "6982"),
            (verify(0x81, "123456"), "9000"),
            (SIGN, "9000"),
            (verify(0x81), "63C3"),
            (SIGN, "6982"),
            (verify(0x81, "123456"), "9000"),
            (SIGN, "9000"),
        ]
        signatures = []
        for number, (command, expected) in enumerate(steps):
            with self.subTest(step=number, command=command.hex()):
                answer = self.card.respond(command)
                self.assertEqual(status(answer), expected)
                if command == SIGN and expected == "9000":
                    signatures.append(answer[:-2])

        key = self.card.respond(READ_SIGNING_KEY_EXTENDED)
        self.assertEqual(status(key), "9000")
        # 7F49 82 LL LL, 81 82 01 00 <modulus>, 82 03 <exponent>
        modulus = int.from_bytes(key[9:9 + 256], "big")
        exponent = int.from_bytes(key[9 + 256 + 2:-2], "big")
        public_key = rsa.RSAPublicNumbers(exponent, modulus).public_key()
        for signature in signatures:
            public_key.verify(signature, MESSAGE, padding.PKCS1v15(), hashes.SHA256())
        self.assertEqual(self.state()["signature_counter"], 2)
        self.assertEqual(self.card.respond(bytes.fromhex("00CA007A00")).hex().upper(),
                         "93030000029000")

    def test_a_long_answer_to_a_short_command_continues_with_get_response(self):
        whole = self.card.respond(READ_SIGNING_KEY_EXTENDED)
        first = self.card.respond(READ_SIGNING_KEY_SHORT)
        self.assertEqual(len(first), 256 + 2)
        self.assertEqual(first[-2], 0x61)
        rest = self.card.respond(bytes.fromhex("00C00000") + first[-1:])
        self.assertEqual(first[:-2] + rest, whole)
        self.assertEqual(status(self.card.respond(bytes.fromhex("00C0000000"))), "6985")

    def test_the_cardholder_certificate_is_the_authentication_keys_own(self):
        answer = self.card.respond(GET_CERTIFICATE)
        self.assertEqual(status(answer), "9000")
        certificate = x509.load_der_x509_certificate(answer[:-2])
        self.assertEqual(certificate.subject.rfc4514_string(), "CN=Titolare OpenPGP")
        self.assertEqual(certificate.issuer, certificate.subject)
        key = self.card.respond(READ_AUTHENTICATION_KEY)
        modulus = int.from_bytes(key[9:9 + 256], "big")
        self.assertEqual(certificate.public_key().public_numbers().n, modulus)
        certificate.public_key().verify(certificate.signature, certificate.tbs_certificate_bytes,
                                        padding.PKCS1v15(), certificate.signature_hash_algorithm)

        # Instances 1 and 2 are empty; selecting the application selects instance 0 again.
        steps = [
            (select_certificate(1), b""),
            (GET_CERTIFICATE, b""),
            (select_certificate(3), None),
            (select_certificate(0), b""),
            (GET_CERTIFICATE, answer[:-2]),
            (select_certificate(2), b""),
            (bytes.fromhex("00A4040006") + openpgp_card.AID_PREFIX, b""),
            (GET_CERTIFICATE, answer[:-2]),
        ]
        for number, (command, expected) in enumerate(steps):
            with self.subTest(step=number, command=command.hex()):
                reply = self.card.respond(command)
                if expected is None:
                    self.assertEqual(status(reply), "6B00")
                else:
                    self.assertEqual(reply, expected + b"\x90\x00")

    def test_a_state_without_a_certificate_gets_one_when_loaded(self):
        state = self.state()
        del state["certificate"]
        openpgp_card.write_state(self.directory, state)
        card = openpgp_card.OpenPgpCard(self.directory)
        written = self.state()["certificate"]
        self.assertEqual(x509.load_pem_x509_certificate(written.encode()).public_bytes(
            serialization.Encoding.DER), card.respond(GET_CERTIFICATE)[:-2])
        again = openpgp_card.OpenPgpCard(self.directory)
        self.assertEqual(again.respond(GET_CERTIFICATE), card.respond(GET_CERTIFICATE))


if __name__ == "__main__":
    unittest.main()
