#include "manager/Pcsc.h"

#include <cstdint>
#include <limits>

namespace {

const PcscFunctions* g_pcscFunctions = &SystemPcscFunctions();

// A length reported beyond the buffer that was offered is never trusted.
void ClampLength(DWORD* length, DWORD capacity) {
    if (*length > capacity) {
        *length = capacity;
    }
}

}  // namespace

void SetPcscFunctions(const PcscFunctions* functions) {
    g_pcscFunctions = functions != nullptr ? functions : &SystemPcscFunctions();
}

const PcscFunctions& PcscTable() {
    return *g_pcscFunctions;
}

uint32_t PcscResult(LONG result) {
    // Both the 64-bit form (0x80100001) and a sign-extended 32-bit one (-2146435071) name
    // the same code.
    if (result < std::numeric_limits<int32_t>::min() ||
        result > static_cast<LONG>(std::numeric_limits<uint32_t>::max())) {
        return static_cast<uint32_t>(SCARD_F_UNKNOWN_ERROR);
    }
    return static_cast<uint32_t>(result);
}

uint32_t PcscEstablishContext(SCARDCONTEXT* context) {
    *context = 0;
    return PcscResult(PcscTable().establishContext(SCARD_SCOPE_USER, nullptr, nullptr, context));
}

uint32_t PcscListReaders(SCARDCONTEXT context, char** readers, DWORD* length) {
    *readers = nullptr;
    *length = SCARD_AUTOALLOCATE;
    // With SCARD_AUTOALLOCATE the buffer argument receives the address of the list.
    uint32_t result = PcscResult(
        PcscTable().listReaders(context, nullptr, reinterpret_cast<LPSTR>(readers), length));
    if (result != 0 || *readers == nullptr) {
        *length = 0;
    }
    return result;
}

void PcscFreeMemory(SCARDCONTEXT context, const void* memory) {
    if (memory != nullptr) {
        PcscTable().freeMemory(context, memory);
    }
}

uint32_t PcscGetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                             DWORD count) {
    return PcscResult(PcscTable().getStatusChange(context, timeout, states, count));
}

uint32_t PcscConnect(SCARDCONTEXT context, const char* reader, SCARDHANDLE* card) {
    *card = 0;
    DWORD activeProtocol = 0;
    return PcscResult(PcscTable().connect(context, reader, SCARD_SHARE_SHARED,
                                          SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card,
                                          &activeProtocol));
}

uint32_t PcscGetAtr(SCARDHANDLE card, unsigned char* buffer, DWORD* length) {
    const DWORD capacity = *length;
    uint32_t result =
        PcscResult(PcscTable().getAttrib(card, SCARD_ATTR_ATR_STRING, buffer, length));
    if (result == static_cast<uint32_t>(SCARD_E_UNSUPPORTED_FEATURE)) {
        // Some reader drivers (the virtual reader among them) leave the attribute to the
        // service; the status query of the same handle carries the ATR as well.
        DWORD namesLength = 0;
        DWORD state = 0;
        DWORD protocol = 0;
        *length = capacity;
        result = PcscResult(
            PcscTable().status(card, nullptr, &namesLength, &state, &protocol, buffer, length));
    }
    if (result != 0) {
        *length = 0;
        return result;
    }
    ClampLength(length, capacity);
    return 0;
}

void PcscDisconnect(SCARDHANDLE card) {
    PcscTable().disconnect(card, SCARD_LEAVE_CARD);
}

void PcscReleaseContext(SCARDCONTEXT context) {
    PcscTable().releaseContext(context);
}

void PcscCancel(SCARDCONTEXT context) {
    PcscTable().cancel(context);
}
