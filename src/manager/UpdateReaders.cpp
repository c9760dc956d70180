#include <cstdlib>
#include <cstring>

#include "log/Log.h"
#include "manager/Pcsc.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::UpdateReaders";
constexpr DWORD kStatusTimeoutMs = 1000;

}  // namespace

int CSmartCardManager::ReaderPosition(const std::string& name) const {
    for (uint32_t i = 0; i < m_readerCount; ++i) {
        if (m_readers[i].szReader != nullptr && name == m_readers[i].szReader) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint32_t CSmartCardManager::UpdateReaders() {
    for (SCARD_READERSTATE& reader : m_readers) {
        std::free(const_cast<char*>(reader.szReader));
    }
    m_readerCount = 0;
    std::memset(m_readers, 0, sizeof m_readers);

    SCARDCONTEXT context = 0;
    uint32_t result = PcscEstablishContext(&context);
    if (result != 0) {
        LOG_MESSAGE(result, 1, kSource, "SCardEstablishContext error.");
        // Without the service no reader can be seen: the user reads why, not "no reader".
        if (result == kNoService) {
            AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusNoService));
            AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusStartService));
        }
        return result;
    }

    char* list = nullptr;
    DWORD length = 0;
    result = PcscListReaders(context, &list, &length);
    if (result != 0) {
        LOG_MESSAGE(result, 1, kSource, "SCardListReaders error.");
        PcscReleaseContext(context);
        return result;
    }

    // Only the bytes the service reported are read: a name without its zero byte inside
    // them, or one that cannot be copied, ends the walk with what was stored so far.
    uint32_t stored = 0;
    std::size_t position = 0;
    while (list != nullptr && position < length && stored < kMaxReaders) {
        const char* name = list + position;
        const void* end = std::memchr(name, '\0', length - position);
        if (end == nullptr) {
            break;
        }
        std::size_t nameLength = static_cast<const char*>(end) - name;
        if (nameLength == 0) {
            break;
        }
        LOG_MESSAGE(0, 0, kSource, "Found definition of '%s' reader.", name);
        char* copy = static_cast<char*>(std::malloc(nameLength + 1));
        if (copy == nullptr) {
            break;
        }
        std::memcpy(copy, name, nameLength + 1);
        m_readers[stored].szReader = copy;
        m_readers[stored].dwCurrentState = SCARD_STATE_UNAWARE;
        ++stored;
        position += nameLength + 1;
    }
    m_readerCount = stored;
    PcscFreeMemory(context, list);

    if (m_readerCount == 0) {
        LOG_MESSAGE(0, 0, kSource, "No readers defined or found.");
        PcscReleaseContext(context);
        return 0;
    }

    result = PcscGetStatusChange(context, kStatusTimeoutMs, m_readers, m_readerCount);
    PcscReleaseContext(context);
    if (result != 0) {
        // A failed query may have written part of the table: keep the names, no states.
        for (uint32_t i = 0; i < m_readerCount; ++i) {
            m_readers[i].dwEventState = 0;
            m_readers[i].cbAtr = 0;
            std::memset(m_readers[i].rgbAtr, 0, sizeof m_readers[i].rgbAtr);
        }
        LOG_MESSAGE(result, 1, kSource, "SCardGetStatusChange error.");
        AddStatusLine(m_statusList, FormatErrorStatus(result, nullptr, kStatusReaderLibraryError));
        return result;
    }
    return 0;
}
