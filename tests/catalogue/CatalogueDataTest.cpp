// Checks of the catalogue data file itself: every entry of every array must be usable by
// the lookup and by the driver discovery.

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "CatalogueTestSupport.h"
#include "catalogue/EmbeddedCatalogue.h"

namespace {

Json::Value Parse(const std::string& text, std::string* errors) {
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::istringstream stream(text);
    EXPECT_TRUE(Json::parseFromStream(builder, stream, &root, errors)) << *errors;
    return root;
}

bool IsHex(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::vector<std::string> SplitDrivers(const std::string& drivers) {
    std::vector<std::string> names;
    std::string::size_type start = 0;
    while (true) {
        std::string::size_type comma = drivers.find(',', start);
        names.push_back(drivers.substr(start, comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return names;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Each system's array names modules as that system's loader expects them.
bool IsModuleName(const std::string& system, const std::string& name) {
    if (system == "windows")
        return EndsWith(name, ".dll");
    if (system == "linux")
        return EndsWith(name, ".so");
    return EndsWith(name, ".dylib") || name == "opensc-pkcs11.so";
}

class CatalogueData : public ::testing::Test {
protected:
    void SetUp() override {
        std::string errors;
        root = Parse(ProgramCatalogue(), &errors);
        ASSERT_TRUE(root.isObject());
    }
    Json::Value root;
};

TEST_F(CatalogueData, EmbeddedCopyIsTheDataFile) {
    std::size_t size = 0;
    const char* text = EmbeddedCatalogue(&size);
    if (text == nullptr) {
        GTEST_SKIP() << "built without an embedded catalogue";
    }
    EXPECT_EQ(std::string(text, size), ReadFile(LUMIDOR_SOURCE_CARDLIST));
}

TEST_F(CatalogueData, HasVersionAndEnoughLinuxCards) {
    ASSERT_TRUE(root["version"].isString());
    EXPECT_FALSE(root["version"].asString().empty());
    ASSERT_TRUE(root["linux"].isArray());
    EXPECT_GE(root["linux"].size(), 60u);
}

TEST_F(CatalogueData, EveryEntryIsWellFormed) {
    for (const char* system : {"windows", "linux", "osx"}) {
        const Json::Value& cards = root[system];
        ASSERT_TRUE(cards.isArray()) << system;
        EXPECT_FALSE(cards.empty()) << system;
        for (Json::ArrayIndex i = 0; i < cards.size(); ++i) {
            SCOPED_TRACE(std::string(system) + " entry " + std::to_string(i));
            const Json::Value& entry = cards[i];
            ASSERT_TRUE(entry.isObject());
            for (const std::string& key : entry.getMemberNames()) {
                EXPECT_TRUE(entry[key].isString()) << key;
            }
            if (!entry["type"].isString() || !entry["drivers"].isString()) {
                ADD_FAILURE() << "type or drivers missing";
                continue;
            }
            const std::string type = entry["type"].asString();
            EXPECT_TRUE(type == "CCID" || type == "HID") << type;
            if (type == "HID") {
                EXPECT_FALSE(entry.get("reader", "").asString().empty());
            } else {
                EXPECT_TRUE(entry.isMember("atr"));
            }

            const std::string atr = entry.get("atr", "").asString();
            if (entry.isMember("atr")) {
                EXPECT_TRUE(IsHex(atr)) << atr;
                EXPECT_EQ(atr.size() % 2, 0u) << atr;
            }
            if (entry.isMember("atrmask")) {
                const std::string mask = entry["atrmask"].asString();
                EXPECT_TRUE(IsHex(mask)) << mask;
                EXPECT_EQ(mask.size(), atr.size()) << mask;
            }

            const std::vector<std::string> names = SplitDrivers(entry["drivers"].asString());
            for (const std::string& name : names) {
                EXPECT_FALSE(name.empty()) << entry["drivers"].asString();
                EXPECT_TRUE(IsModuleName(system, name)) << name;
            }

            if (entry.isMember("filter")) {
                std::string filter = entry["filter"].asString();
                std::replace(filter.begin(), filter.end(), '\'', '"');
                std::string errors;
                Json::Value parsed = Parse(filter, &errors);
                ASSERT_TRUE(parsed.isObject()) << filter;
                ASSERT_TRUE(parsed["serial"].isObject()) << filter;
                for (const std::string& prefix : parsed["serial"].getMemberNames()) {
                    const Json::Value& module = parsed["serial"][prefix];
                    ASSERT_TRUE(module.isString()) << filter;
                    // A filter can only choose among the modules the entry names.
                    EXPECT_NE(std::find(names.begin(), names.end(), module.asString()), names.end())
                        << filter;
                }
            }
        }
    }
}

}  // namespace
