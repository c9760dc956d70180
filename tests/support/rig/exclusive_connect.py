#!/usr/bin/python3
"""Connects to the card in a reader in exclusive mode, as signing software that wants the card
for itself does, and disconnects at once.

    exclusive_connect.py READER

Exit status 0 when the connection was granted; otherwise 1, with pcsc-lite's code on standard
error. The PC/SC service is the one PCSCLITE_CSOCK_NAME names, as for every client."""

import ctypes
import sys

SCARD_SCOPE_USER = 0
SCARD_SHARE_EXCLUSIVE = 1
SCARD_PROTOCOL_ANY = 3  # T=0 or T=1
SCARD_LEAVE_CARD = 0


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    pcsc = ctypes.CDLL("libpcsclite.so.1")
    # pcsc-lite's LONG and DWORD are the platform's long and unsigned long.
    for name in ("SCardEstablishContext", "SCardConnect", "SCardDisconnect",
                 "SCardReleaseContext"):
        getattr(pcsc, name).restype = ctypes.c_long
    context = ctypes.c_long()
    result = pcsc.SCardEstablishContext(ctypes.c_ulong(SCARD_SCOPE_USER), None, None,
                                        ctypes.byref(context))
    if result != 0:
        print(f"SCardEstablishContext: 0x{result & 0xFFFFFFFF:08X}", file=sys.stderr)
        return 1
    card = ctypes.c_long()
    protocol = ctypes.c_ulong()
    result = pcsc.SCardConnect(context, sys.argv[1].encode(), ctypes.c_ulong(SCARD_SHARE_EXCLUSIVE),
                               ctypes.c_ulong(SCARD_PROTOCOL_ANY), ctypes.byref(card),
                               ctypes.byref(protocol))
    if result == 0:
        pcsc.SCardDisconnect(card, ctypes.c_ulong(SCARD_LEAVE_CARD))
    else:
        print(f"SCardConnect: 0x{result & 0xFFFFFFFF:08X}", file=sys.stderr)
    pcsc.SCardReleaseContext(context)
    return 0 if result == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
