#!/usr/bin/python3
"""Lumidor's virtual card for the test rig.

Connects to a virtual reader's port on 127.0.0.1 (the vsmartcard-vpcd driver is the server
side) and acts as the card in it until the connection ends or the process is stopped.

Wire format, both ways: a 2-byte big-endian length, then that many payload bytes.
A 1-byte payload is a command: 0 power off, 1 power on, 2 reset, 4 send the ATR (answered
with the ATR bytes). A longer payload is an APDU, answered with a status word.

Usage: vcard.py --port 35964 --atr "3B 02 14 50" [--status-word 6D00]
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


def serve(connection, atr, status_word):
    while True:
        header = receive_exactly(connection, 2)
        if header is None:
            return
        payload = receive_exactly(connection, int.from_bytes(header, "big"))
        if payload is None:
            return
        if len(payload) == 1:
            if payload[0] == GET_ATR:
                send_message(connection, atr)
            # Power off, power on and reset need no answer; nothing else is sent.
        elif len(payload) > 1:
            send_message(connection, status_word)


def main():
    parser = argparse.ArgumentParser(description="Virtual card for the vpcd test reader.")
    parser.add_argument("--port", type=int, required=True, help="the reader's TCP port")
    parser.add_argument("--atr", required=True,
                        type=lambda text: hex_bytes(text, "ATR", MAX_ATR))
    parser.add_argument("--status-word", default=bytes.fromhex("6D00"),
                        type=lambda text: hex_bytes(text, "status word", 2, 2))
    arguments = parser.parse_args()

    # Stopping the process is how a card is removed: end quietly.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        with connect(arguments.port) as connection:
            serve(connection, arguments.atr, arguments.status_word)
    except ConnectionError:
        pass  # the reader went away: the card is out
    except OSError as error:
        print(f"vcard: port {arguments.port}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
