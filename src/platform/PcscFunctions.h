#pragma once

// The PC/SC service's calls as one table of function pointers, so that the caller can put
// another table in its place. The types are the service's own: pcsc-lite's LONG and DWORD are
// 64 bits wide on 64-bit Linux, WinSCard's are always 32.

#ifdef _WIN32
#include <winscard.h>
// WinSCard's functions are WINAPI, which 32-bit x86 does not take for the default; a table of
// one's own must use it too.
#define PCSC_CALL WINAPI
#else
#include <reader.h>
#include <winscard.h>
#define PCSC_CALL
#endif

struct PcscFunctions {
    LONG(PCSC_CALL* establishContext)
    (DWORD scope, LPCVOID reserved1, LPCVOID reserved2, LPSCARDCONTEXT context);
    LONG(PCSC_CALL* listReaders)
    (SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length);
    LONG(PCSC_CALL* freeMemory)(SCARDCONTEXT context, LPCVOID memory);
    LONG(PCSC_CALL* getStatusChange)
    (SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states, DWORD count);
    LONG(PCSC_CALL* connect)
    (SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD protocols, LPSCARDHANDLE card,
     LPDWORD activeProtocol);
    LONG(PCSC_CALL* getAttrib)(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length);
    // Used only inside PcscGetAtr, for readers that do not answer the ATR attribute.
    LONG(PCSC_CALL* status)
    (SCARDHANDLE card, LPSTR readerNames, LPDWORD namesLength, LPDWORD state, LPDWORD protocol,
     LPBYTE atr, LPDWORD atrLength);
    LONG(PCSC_CALL* disconnect)(SCARDHANDLE card, DWORD disposition);
    LONG(PCSC_CALL* releaseContext)(SCARDCONTEXT context);
    LONG(PCSC_CALL* cancel)(SCARDCONTEXT context);
};

// The table bound to the system's PC/SC library.
const PcscFunctions& SystemPcscFunctions();
