#pragma once

// The PC/SC service's calls as one table of function pointers, so that the caller can put
// another table in its place.

#include <reader.h>
#include <winscard.h>

struct PcscFunctions {
    LONG(*establishContext)
    (DWORD scope, LPCVOID reserved1, LPCVOID reserved2, LPSCARDCONTEXT context);
    LONG (*listReaders)(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length);
    LONG (*freeMemory)(SCARDCONTEXT context, LPCVOID memory);
    LONG(*getStatusChange)
    (SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states, DWORD count);
    LONG(*connect)
    (SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD protocols, LPSCARDHANDLE card,
     LPDWORD activeProtocol);
    LONG (*getAttrib)(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length);
    // Used only inside PcscGetAtr, for readers that do not answer the ATR attribute.
    LONG(*status)
    (SCARDHANDLE card, LPSTR readerNames, LPDWORD namesLength, LPDWORD state, LPDWORD protocol,
     LPBYTE atr, LPDWORD atrLength);
    LONG (*disconnect)(SCARDHANDLE card, DWORD disposition);
    LONG (*releaseContext)(SCARDCONTEXT context);
    LONG (*cancel)(SCARDCONTEXT context);
};

// The table bound to the system's PC/SC library.
const PcscFunctions& SystemPcscFunctions();
