#include "manager/SlotReader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// The size of CK_SLOT_INFO's slotDescription.
constexpr std::size_t kDescriptionSize = 64;

std::string WithoutTrailingBlanks(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// What of a reader's name a slot description can hold.
std::string DescriptionOf(const std::string& readerName) {
    return WithoutTrailingBlanks(readerName.substr(0, kDescriptionSize));
}

// The description holds the reader's name whole, or cut as only this reader's name is cut.
bool Names(const std::string& description, const std::string& reader,
           const std::vector<std::string>& readers) {
    if (description == WithoutTrailingBlanks(reader)) {
        return true;
    }
    if (reader.size() <= kDescriptionSize || description != DescriptionOf(reader)) {
        return false;
    }
    return std::none_of(readers.begin(), readers.end(), [&](const std::string& other) {
        return other != reader && other.size() > kDescriptionSize &&
               DescriptionOf(other) == description;
    });
}

// The description is the cut name that two of the readers share: it may be either's.
bool SharedPrefix(const std::string& description, const std::vector<std::string>& readers) {
    return std::count_if(readers.begin(), readers.end(), [&](const std::string& reader) {
               return reader.size() > kDescriptionSize && DescriptionOf(reader) == description;
           }) > 1;
}

}  // namespace

SlotOwner SlotOwnerOf(const std::string& description, const std::string& readerName,
                      const std::vector<std::string>& listedReaders) {
    std::vector<std::string> readers = listedReaders;
    if (std::find(readers.begin(), readers.end(), readerName) == readers.end()) {
        readers.push_back(readerName);
    }
    if (!readerName.empty() && Names(description, readerName, readers)) {
        return SlotOwner::Reader;
    }
    const bool another =
        std::any_of(readers.begin(), readers.end(), [&](const std::string& reader) {
            return reader != readerName && !reader.empty() && Names(description, reader, readers);
        });
    if (another || SharedPrefix(description, readers)) {
        return SlotOwner::OtherReader;
    }
    return SlotOwner::NoReader;
}

std::string SlotDescriptionText(const CK_SLOT_INFO& info) {
    char description[kDescriptionSize + 1];
    std::memcpy(description, info.slotDescription, kDescriptionSize);
    description[kDescriptionSize] = '\0';
    for (std::size_t i = kDescriptionSize - 1; i > 0 && description[i] == ' '; --i) {
        description[i] = '\0';
    }
    return description;
}
