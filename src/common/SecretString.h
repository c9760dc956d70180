#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest PIN the signing test presents, in bytes; the PIN dialog takes at most as many
// characters.
inline constexpr std::size_t kMaxPinBytes = 64;

// A secret text (the PIN) that no path leaves behind in memory: its storage is wiped when it
// is let go, moved from or cleared, and it cannot be copied. It keeps at most kMaxPinBytes + 1
// bytes, enough to tell that a text was too long, and never grows into a new buffer (which
// would leave the old one unwiped).
class SecretString {
public:
    SecretString() = default;
    // Takes `text`'s bytes (those past the limit are dropped) and wipes `text`.
    explicit SecretString(std::string&& text);
    // A copy of `text` (its source is the caller's to wipe).
    explicit SecretString(std::string_view text);
    explicit SecretString(const char* text) : SecretString(std::string_view(text)) {}
    SecretString(SecretString&& other) noexcept;
    SecretString& operator=(SecretString&& other) noexcept;
    ~SecretString();
    SecretString(const SecretString&) = delete;
    SecretString& operator=(const SecretString&) = delete;

    const char* data() const { return m_text.data(); }
    std::size_t size() const { return m_text.size(); }
    bool empty() const { return m_text.empty(); }
    // Longer than the signing test accepts.
    bool TooLong() const { return m_text.size() > kMaxPinBytes; }

    // Adds a byte at the end; nothing once the text is one byte over the limit.
    void Append(char byte);
    // Removes a last byte equal to `byte`, if there is one.
    void DropLast(char byte);
    void Clear();

private:
    std::string m_text;
};
