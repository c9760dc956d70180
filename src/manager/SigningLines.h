#pragma once

// The signing test's lines: each logged under the test's own source name, those for the user
// also added to the message list.

#include <cstdint>
#include <string>

#include "manager/SigningKey.h"

class IMessageList;

constexpr const char* kCardTestSource = "CSmartCardManager::CardTest";

// printf into a text of at most 511 bytes.
__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...);

// A text the program composed itself: logged as it stands, never used as a format.
void LogVerbatim(uint32_t code, const std::string& text);

// A line for the user: logged and added to the message list (none when it is null).
void Report(IMessageList* list, uint32_t code, const std::string& text);

// The user's line for what signing with `key` came to (two for a failure: the error, then
// what it means); nothing for an outcome reported where it happened.
void ReportKey(IMessageList* list, const PrivateKey& key, const KeyOutcome& outcome);
