#!/usr/bin/python3
"""Lumidor's virtual card for the test rig.

Connects to a virtual reader's port on 127.0.0.1 (the vsmartcard-vpcd driver is the server
side) and acts as the card in it until the connection ends or the process is stopped.

Wire format, both ways: a 2-byte big-endian length, then that many payload bytes.
A 1-byte payload is a command: 0 power off, 1 power on, 2 reset, 4 send the ATR (answered
with the ATR bytes). A longer payload is an APDU, answered with response data and a status word.

Cards:
    vcard.py --port 35964 --atr "3B 02 14 50" [--status-word 6D00]
        answers every APDU with the one status word (the default card)
    vcard.py --port 35964 --card openpgp --state DIR
        an OpenPGP card (tools/openpgp_card.py) whose keys, PINs and counters live in DIR
"""

import argparse
import errno
import signal
import socket
import sys
import time

MAX_ATR = 33  # the longest ATR that PC/SC carries
CONNECT_BOUND_SECONDS = 10.0

POWER_OFF, POWER_ON, RESET, GET_ATR = 0, 1, 2, 4


def hex_bytes(text, what, longest, shortest=1):
    digits = "".join(text.split())
    try:
        value = bytes.fromhex(digits)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{what} is not hexadecimal: {text!r}")
    if not shortest <= len(value) <= longest:
        raise argparse.ArgumentTypeError(f"{what} must have {shortest} to {longest} bytes")
    return value


def receive_exactly(connection, count):
    data = bytearray()
    while len(data) < count:
        # The reader sends a message's length and its payload in two writes and holds the
        # second until the first is acknowledged: acknowledge at once, not ~40 ms later.
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        piece = connection.recv(count - len(data))
        if not piece:
            return None
        data += piece
    return bytes(data)


def send_message(connection, payload):
    connection.sendall(len(payload).to_bytes(2, "big") + payload)


def connect(port):
    # The reader's port exists as soon as pcscd has loaded the driver; a refused
    # connection means it is not there yet, so try again for a bounded time.
    deadline = time.monotonic() + CONNECT_BOUND_SECONDS
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port))
        except OSError as error:
            if error.errno != errno.ECONNREFUSED or time.monotonic() >= deadline:
                raise
        time.sleep(0.05)


class FixedCard:
    """Answers every APDU with the same status word."""

    def __init__(self, atr, status_word):
        self.atr = atr
        self.status_word = status_word

    def power(self):
        pass

    def respond(self, apdu):
        return self.status_word


def serve(connection, card):
    while True:
        header = receive_exactly(connection, 2)
        if header is None:
            return
        payload = receive_exactly(connection, int.from_bytes(header, "big"))
        if payload is None:
            return
        if len(payload) == 1:
            if payload[0] == GET_ATR:
                send_message(connection, card.atr)
            elif payload[0] in (POWER_ON, RESET):
                card.power()
            # Only the ATR is answered; the power commands need no answer.
        elif len(payload) > 1:
            send_message(connection, card.respond(payload))


def make_card(parser, arguments):
    if arguments.card == "openpgp":
        if arguments.atr is not None or arguments.status_word is not None:
            parser.error("the openpgp card has its own ATR and answers")
        if not arguments.state:
            parser.error("the openpgp card needs --state DIR")
        sys.dont_write_bytecode = True  # no __pycache__ in the source tree
        import openpgp_card  # only this card needs python3-cryptography
        return openpgp_card.OpenPgpCard(arguments.state)
    if arguments.state is not None:
        parser.error("--state is for the openpgp card")
    if arguments.atr is None:
        parser.error("the argument --atr is required")
    return FixedCard(arguments.atr, arguments.status_word or bytes.fromhex("6D00"))


def main():
    parser = argparse.ArgumentParser(description="Virtual card for the vpcd test reader.")
    parser.add_argument("--port", type=int, required=True, help="the reader's TCP port")
    parser.add_argument("--card", choices=["atr", "openpgp"], default="atr",
                        help="atr (default): a fixed status word for every APDU; "
                             "openpgp: an OpenPGP card")
    parser.add_argument("--atr", type=lambda text: hex_bytes(text, "ATR", MAX_ATR),
                        help="the ATR card's ATR (required for it)")
    parser.add_argument("--status-word", type=lambda text: hex_bytes(text, "status word", 2, 2),
                        help="the ATR card's answer to every APDU (6D00 if not given)")
    parser.add_argument("--state", help="the openpgp card's state directory (required for it)")
    arguments = parser.parse_args()

    # Stopping the process is how a card is removed: end quietly.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    card = make_card(parser, arguments)
    try:
        with connect(arguments.port) as connection:
            serve(connection, card)
    except ConnectionError:
        pass  # the reader went away: the card is out
    except OSError as error:
        print(f"vcard: port {arguments.port}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
