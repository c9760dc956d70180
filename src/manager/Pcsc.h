#pragma once

// The manager's only way to the PC/SC service. Every call goes through one table of
// function pointers, the system's (platform/PcscFunctions.h) by default; tests install their
// own table to produce what a real service cannot (many readers, a call failing on demand).
//
// pcsc-lite's LONG and DWORD are 64 bits wide here; the layer turns every result into the
// manager's 32-bit code in one place (PcscResult).

#include <winscard.h>

#include <cstdint>

#include "platform/PcscFunctions.h"

// The table in use. A null argument restores the system's. The table is not copied: it must
// outlive its use.
void SetPcscFunctions(const PcscFunctions* functions);
const PcscFunctions& PcscTable();

// A pcsc-lite result as the manager's 32-bit code. Values that no 32-bit code can stand
// for become SCARD_F_UNKNOWN_ERROR rather than being cut, which could turn them into 0.
uint32_t PcscResult(LONG result);

// The operations, each with the arguments the manager always passes.

// User scope.
uint32_t PcscEstablishContext(SCARDCONTEXT* context);
// All readers, in a list that the service allocates; *length is the list's size in bytes.
uint32_t PcscListReaders(SCARDCONTEXT context, char** readers, DWORD* length);
void PcscFreeMemory(SCARDCONTEXT context, const void* memory);
uint32_t PcscGetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                             DWORD count);
// Shared, T=0 or T=1; the active protocol is not kept.
uint32_t PcscConnect(SCARDCONTEXT context, const char* reader, SCARDHANDLE* card);
// The card's ATR into buffer (capacity *length on entry, the ATR's length on return):
// the ATR attribute, or what the status query reports for the same handle when the
// reader does not support the attribute. Any other failure stays a failure.
uint32_t PcscGetAtr(SCARDHANDLE card, unsigned char* buffer, DWORD* length);
// Leaves the card as it is.
void PcscDisconnect(SCARDHANDLE card);
void PcscReleaseContext(SCARDCONTEXT context);
// Ends a status change wait of `context` that another thread is in. pcsc-lite drops a cancel
// that comes before the wait has begun: the caller repeats it until the wait has ended.
void PcscCancel(SCARDCONTEXT context);
