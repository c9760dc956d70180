#include "check/ReportJson.h"

#include <json/value.h>
#include <json/writer.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "manager/CertificateTexts.h"
#include "platform/ResultNames.h"

namespace {

Json::Value Result(uint32_t code) {
    Json::Value result(Json::objectValue);
    result["code"] = Json::UInt(code);
    result["hex"] = ResultHex(code);
    const std::string name = ResultName(code);
    result["name"] = name.empty() ? Json::Value() : Json::Value(name);
    return result;
}

Json::Value Texts(const std::vector<std::string>& texts) {
    Json::Value array(Json::arrayValue);
    for (const std::string& text : texts) {
        array.append(text);
    }
    return array;
}

// Empty text as null: the report has no such value.
Json::Value OptionalText(const std::string& text) {
    return text.empty() ? Json::Value() : Json::Value(text);
}

// A moment in UTC as ISO 8601, "2026-12-10T16:56:47Z"; null outside the years 0001 to 9999,
// which ISO 8601's four digits cannot hold (a certificate may say year 0).
// The calendar is std::chrono's, the same on every system (Windows' gmtime_s refuses the
// years before 1970).
Json::Value IsoTime(std::time_t when) {
    constexpr std::time_t kFirst = -62135596800;  // 0001-01-01T00:00:00Z
    constexpr std::time_t kLast = 253402300799;   // 9999-12-31T23:59:59Z
    if (when < kFirst || when > kLast) {
        return Json::Value();
    }
    using namespace std::chrono;
    const sys_seconds moment{seconds{when}};
    const sys_days day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{moment - day};
    char text[80];  // room for any int, though the years are four digits
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

Json::Value Readers(const std::vector<ReaderEntry>& readers) {
    Json::Value array(Json::arrayValue);
    for (std::size_t i = 0; i < readers.size(); ++i) {
        Json::Value reader(Json::objectValue);
        reader["index"] = Json::UInt(i);
        reader["name"] = readers[i].name;
        reader["state"] = Json::UInt(readers[i].state);
        reader["stateFlags"] = Texts(ReaderStateFlags(readers[i].state));
        reader["cardPresent"] = (readers[i].state & SCARD_STATE_PRESENT) != 0;
        array.append(reader);
    }
    return array;
}

Json::Value Catalogue(const CheckReport& report) {
    Json::Value catalogue(Json::objectValue);
    switch (report.source) {
        case DriverSource::Catalogue:
            catalogue["source"] = "catalogue";
            break;
        case DriverSource::System:
            catalogue["source"] = "system";
            break;
        case DriverSource::None:
            catalogue["source"] = Json::Value();
            break;
    }
    if (!report.catalogueEntry) {
        catalogue["entry"] = Json::Value();
        return catalogue;
    }
    const CardDefinition& definition = *report.catalogueEntry;
    Json::Value entry(Json::objectValue);
    entry["atr"] = definition.atr;
    entry["atrMask"] = OptionalText(definition.atrMask);
    entry["drivers"] = definition.drivers;
    entry["askPin"] = definition.askPin != 0;
    entry["tryReuseDriver"] = definition.tryReuseDriver != 0;
    entry["filter"] = OptionalText(definition.filter);
    entry["reader"] = OptionalText(definition.reader);
    catalogue["entry"] = entry;
    return catalogue;
}

Json::Value Token(const TokenDetails& token) {
    Json::Value object(Json::objectValue);
    object["label"] = token.label;
    object["manufacturerId"] = token.manufacturerId;
    object["model"] = token.model;
    object["serialNumber"] = token.serialNumber;
    object["flags"] = Json::UInt64(token.flags);
    object["flagsText"] = token.flagsText;
    object["maxSessionCount"] = Json::UInt64(token.maxSessionCount);
    object["maxRwSessionCount"] = Json::UInt64(token.maxRwSessionCount);
    object["maxPinLen"] = Json::UInt64(token.maxPinLen);
    object["minPinLen"] = Json::UInt64(token.minPinLen);
    object["totalPublicMemory"] = Json::UInt64(token.totalPublicMemory);
    object["freePublicMemory"] = Json::UInt64(token.freePublicMemory);
    object["totalPrivateMemory"] = Json::UInt64(token.totalPrivateMemory);
    object["freePrivateMemory"] = Json::UInt64(token.freePrivateMemory);
    object["hardwareVersion"] = token.hardwareVersion;
    object["firmwareVersion"] = token.firmwareVersion;
    return object;
}

Json::Value Certificates(const std::vector<TokenCertificate>& certificates) {
    Json::Value array(Json::arrayValue);
    for (const TokenCertificate& certificate : certificates) {
        const CertificateContent& content = certificate.content;
        const bool readable = content.state != CertificateState::Unreadable;
        Json::Value object(Json::objectValue);
        object["name"] = CertificateName(certificate);
        object["label"] = certificate.label;
        object["id"] = certificate.id;
        object["hasPrivateKey"] = certificate.hasPrivateKey;
        object["state"] = StateTexts(content.state).json;
        object["stateText"] = CertificateStateText(content.state);
        object["problem"] = OptionalText(content.problem);
        object["subjectCommonName"] = content.subjectCommonName;
        object["subjectOrganization"] = content.subjectOrganization;
        object["issuerCommonName"] = content.issuerCommonName;
        object["validFrom"] = readable ? IsoTime(content.validFrom) : Json::Value();
        object["validUntil"] = readable ? IsoTime(content.validUntil) : Json::Value();
        object["keyUsage"] = content.keyUsage;
        object["serialNumber"] = content.serialNumber;
        object["sha256Fingerprint"] = content.sha256Fingerprint;
        array.append(object);
    }
    return array;
}

}  // namespace

std::string ReportJson(const CheckReport& report) {
    Json::Value root(Json::objectValue);
    root["readers"] = Readers(report.readers);
    root["checkedReader"] =
        report.checkedReader >= 0 ? Json::Value(report.checkedReader) : Json::Value();
    root["readerName"] = report.readerName;
    root["atr"] = report.atr;
    root["catalogue"] = Catalogue(report);
    root["cardDrivers"] = report.cardDrivers;
    root["loadedDrivers"] = Texts(report.loadedDrivers);
    root["driverInUse"] = report.driverInUse;
    root["driverPath"] = report.driverPath;
    root["driverVersion"] = report.driverVersion;
    root["token"] = Token(report.token);
    root["certificates"] = Certificates(report.certificates);
    root["messages"] = Texts(report.messages);
    root["result"] = Result(report.result);
    if (report.test) {
        Json::Value test(Json::objectValue);
        test["lines"] = Texts(report.test->lines);
        test["result"] = Result(report.test->result);
        root["test"] = test;
    } else {
        root["test"] = Json::Value();
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, root) + "\n";
}
