#include "common/SecretString.h"

#include <utility>

#include "common/Wipe.h"

namespace {

constexpr std::size_t kCapacity = kMaxPinBytes + 1;

}  // namespace

SecretString::SecretString(std::string&& text) : SecretString(std::string_view(text)) {
    Wipe(text);
}

SecretString::SecretString(std::string_view text) {
    m_text.reserve(kCapacity);
    m_text.assign(text.substr(0, kCapacity));
}

// The moved-from text keeps its bytes in a short-string buffer: the move takes the storage
// (or copies it) and then wipes what is left behind.
SecretString::SecretString(SecretString&& other) noexcept : m_text(std::move(other.m_text)) {
    Wipe(other.m_text);
}

SecretString& SecretString::operator=(SecretString&& other) noexcept {
    if (this != &other) {
        Wipe(m_text);
        m_text = std::move(other.m_text);
        Wipe(other.m_text);
    }
    return *this;
}

SecretString::~SecretString() {
    Wipe(m_text);
}

void SecretString::Append(char byte) {
    // The whole room is taken before the first byte, so the text never moves to a new one.
    if (m_text.empty()) {
        m_text.reserve(kCapacity);
    }
    if (m_text.size() < kCapacity) {
        m_text.push_back(byte);
    }
}

void SecretString::DropLast(char byte) {
    if (!m_text.empty() && m_text.back() == byte) {
        m_text.back() = '\0';
        m_text.pop_back();
    }
}

void SecretString::Clear() {
    Wipe(m_text);
}
