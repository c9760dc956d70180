#include <cstring>

#include "log/Log.h"
#include "manager/Pcsc.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"

namespace {

constexpr DWORD kStatusTimeoutMs = 1000;

}  // namespace

uint32_t CSmartCardManager::CheckReaderIndex(int readerIndex, const char* source) {
    const char* message = nullptr;
    if (m_readerCount == 0) {
        message = "No readers defined or found.";
    } else if (readerIndex < 0 || static_cast<uint32_t>(readerIndex) >= m_readerCount) {
        message = "No valid reader index.";
    } else {
        return 0;
    }
    LOG_MESSAGE(0, 0, source, "%s", message);
    AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusNoReaders));
    return kNoReadersAvailable;
}

uint32_t CSmartCardManager::ReadReaderState(std::size_t index, const char* source,
                                            SCARDCONTEXT* context, SCARD_READERSTATE* state) {
    auto fail = [&](uint32_t result, const char* message) {
        LOG_MESSAGE(static_cast<int32_t>(result), 1, source, "%s", message);
        AddStatusLine(m_statusList, FormatErrorStatus(result, nullptr, kStatusReaderLibraryError));
        return result;
    };
    uint32_t result = PcscEstablishContext(context);
    if (result != 0) {
        return fail(result, "SCardEstablishContext error.");
    }
    // A copy, so that the table keeps the states of the last enumeration.
    SCARD_READERSTATE states[kMaxReaders];
    std::memcpy(states, m_readers, sizeof states);
    result = PcscGetStatusChange(*context, kStatusTimeoutMs, states, m_readerCount);
    if (result != 0) {
        PcscReleaseContext(*context);
        return fail(result, "SCardGetStatusChange error.");
    }
    *state = states[index];
    LOG_MESSAGE(0, 0, source, "'%s' reader state: 0x%X", m_readers[index].szReader,
                static_cast<unsigned int>(state->dwEventState));
    return 0;
}
