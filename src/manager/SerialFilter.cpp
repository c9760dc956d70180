#include "manager/SerialFilter.h"

#include <json/reader.h>

#include <algorithm>
#include <exception>
#include <sstream>

#include "log/Log.h"
#include "manager/CheckedCard.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::FindDriver";

// A filter maps serial-number beginnings to module names: {"serial": {"7420": "lib.so"}}.
// Anything else chooses nothing.
bool HasFilterShape(const Json::Value& root) {
    if (!root.isObject()) {
        return false;
    }
    const Json::Value& serial = root["serial"];
    if (serial.isNull()) {
        return true;
    }
    if (!serial.isObject()) {
        return false;
    }
    for (const std::string& name : serial.getMemberNames()) {
        if (!serial[name].isString()) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string SerialFilterChoice(const std::string& filter, const CK_TOKEN_INFO& token,
                               IMessageList* list) {
    std::string text = filter;
    std::replace(text.begin(), text.end(), '\'', '"');

    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream stream(text);
    bool parsed = false;
    try {
        parsed = Json::parseFromStream(builder, stream, &root, &errors);
    } catch (const std::exception& error) {
        errors = error.what();
    }
    if (!parsed) {
        if (errors.empty()) {
            LOG_MESSAGE(0, 0, kSource, "JSON parse error ");
        } else {
            LOG_MESSAGE(0, 0, kSource, "JSON parse error : %s", errors.c_str());
        }
        return {};
    }
    if (!HasFilterShape(root)) {
        LOG_MESSAGE(0, 0, kSource, "Serial filter '%s' has no usable form; ignored.",
                    filter.c_str());
        return {};
    }

    // The whole field, trailing blanks and zero bytes included.
    const std::string serialNumber = TokenSerialField(token);
    const Json::Value& serial = root["serial"];
    if (serial.isNull() || serial.empty()) {
        return {};
    }
    std::string choice;
    std::vector<std::string> names = serial.getMemberNames();
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (serialNumber.compare(0, name.size(), name) != 0) {
            continue;
        }
        choice = serial[name].asString();
        LOG_MESSAGE(0, 0, kSource, "Seriale '%s' abbinato a '%s'.", serialNumber.c_str(),
                    choice.c_str());
        AddStatusLine(list, FormatStatus(0, choice.c_str(), "serial number", kStatusFilterMatched));
    }
    return choice;
}
