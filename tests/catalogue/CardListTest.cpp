// Loading and validation of the catalogue text.

#include <gtest/gtest.h>
#include <json/reader.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>

#include "CatalogueTestSupport.h"
#include "catalogue/EmbeddedCatalogue.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::InitCardList";
constexpr const char* kNotFound = "File definizione carte non trovato";
constexpr const char* kBadVersion = "Versione del file non valida";
constexpr const char* kBadArray = "Array per sistema operativo non valido";

struct LoadCase {
    const char* name;
    const char* text;
    const char* error;  // null: the text loads
};

const LoadCase kLoadCases[] = {
    {"MinimalWithEmptyArray", R"({"version":"1","linux":[]})", nullptr},
    {"Comments",
     "// line comment\n{/* block */\"version\":\"2\", // after\n\"linux\":[/* none */]}\n// end",
     nullptr},
    {"OtherSystemsHoldAnything", R"({"version":"1","windows":{},"osx":7,"linux":[]})", nullptr},
    {"LaterDuplicateCounts", R"({"version":"","version":"3","linux":{},"linux":[]})", nullptr},
    {"TextAfterRootIgnored", R"({"version":"1","linux":[]} trailing words)", nullptr},
    {"EmptyVersion", R"({"version":"","linux":[]})", kBadVersion},
    {"NumericVersion", R"({"version":1,"linux":[]})", kBadVersion},
    {"MissingVersion", R"({"linux":[]})", kBadVersion},
    {"NotJson", "this is no catalogue", kBadVersion},
    {"EmptyText", "", kBadVersion},
    {"SingleQuotes", R"({'version':'1','linux':[]})", kBadVersion},
    {"ArrayIsObject", R"({"version":"1","linux":{}})", kBadArray},
    // Only this system's array is checked.
    {"ArrayMissing", R"({"version":"1","windows":[],"osx":[]})", kBadArray},
};

class CardListLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(CardListLoad, AcceptsOrRejectsWithLoggedMessage) {
    const LoadCase& c = GetParam();
    ManagerInTempDir m;
    if (c.error == nullptr) {
        m.Load(c.text);
        EXPECT_TRUE(m.manager->m_cardList["linux"].isArray());
        EXPECT_FALSE(m.manager->m_cardList["version"].asString().empty());
        return;
    }
    try {
        m.Load(c.text);
        ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), c.error);
    }
    EXPECT_TRUE(LogHasRecord(m.StopAndReadLog(), kSource, c.error));
}

INSTANTIATE_TEST_SUITE_P(Cases, CardListLoad, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CardList, KeepsParsedDocumentAndParseFlag) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1.2","linux":[{"type":"CCID"}],"extra":true})");
    EXPECT_TRUE(m.manager->m_cardListParsed);
    EXPECT_EQ(m.manager->m_cardList["version"].asString(), "1.2");
    EXPECT_EQ(m.manager->m_cardList["linux"].size(), 1u);
    EXPECT_TRUE(m.manager->m_cardList["extra"].asBool());

    EXPECT_THROW(m.Load("{"), std::runtime_error);
    EXPECT_FALSE(m.manager->m_cardListParsed);
}

TEST(CardList, ReadsExactlySizeBytes) {
    ManagerInTempDir m;
    const std::string text = R"({"version":"1","linux":[]})";
    const std::string buffer = text + R"(,"linux":{})";  // not NUL-terminated after text
    m.manager->InitCardList(text.size(), buffer.data());
    EXPECT_TRUE(m.manager->m_cardList["linux"].isArray());
}

TEST(CardList, FailedLoadLeavesNothingOfAnEarlierCatalogue) {
    ManagerInTempDir m;
    m.Load(R"({"version":"1","linux":[]})");
    EXPECT_THROW(m.Load(R"({"linux":[]})"), std::runtime_error);
    EXPECT_FALSE(m.manager->m_cardList.isMember("version"));
}

TEST(CardList, RootThatIsNoObjectRaisesJsonError) {
    for (const char* text : {"[1,2]", "\"text\"", "42"}) {
        SCOPED_TRACE(text);
        ManagerInTempDir m;
        EXPECT_THROW(m.Load(text), Json::LogicError);
    }
}

// More nesting than the parser allows: its own error leaves the loader unchanged.
std::string DeeplyNested() {
    return R"({"deep":)" + std::string(1200, '[') + std::string(1200, ']') +
           R"(,"version":"1","linux":[]})";
}

std::string ParserError(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream stream(text);
    try {
        Json::parseFromStream(builder, stream, &root, &errors);
    } catch (const Json::Exception& error) {
        return error.what();
    }
    return {};
}

TEST(CardList, ParserErrorInEmbeddedTextPropagates) {
    ManagerInTempDir m;
    ASSERT_FALSE(ParserError(DeeplyNested()).empty());
    EXPECT_THROW(m.Load(DeeplyNested()), Json::Exception);
}

TEST(CardList, ParserErrorInFileIsLoggedAndChecksDecide) {
    ManagerInTempDir m;
    const std::string parserError = ParserError(DeeplyNested());
    ASSERT_FALSE(parserError.empty());
    WriteFile("cardlist.json", DeeplyNested());
    try {
        m.manager->InitCardList(0, nullptr);
        ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), kBadVersion);
    }
    const std::string log = m.StopAndReadLog();
    EXPECT_TRUE(LogHasRecord(log, kSource, parserError));
    EXPECT_TRUE(LogHasRecord(log, kSource, kBadVersion));
}

TEST(CardList, NullTextReadsFileFromCurrentDirectory) {
    ManagerInTempDir m;
    WriteFile("cardlist.json", "// from the file\r\n{\"version\":\"7.7\",\"linux\":[{}]}\r\n");
    m.manager->InitCardList(0, nullptr);
    EXPECT_TRUE(m.manager->m_cardListParsed);
    EXPECT_EQ(m.manager->m_cardList["version"].asString(), "7.7");
    EXPECT_EQ(m.manager->m_cardList["linux"].size(), 1u);
}

TEST(CardList, MissingFileIsReportedWithStreamError) {
    ManagerInTempDir m;
    std::remove("cardlist.json");  // placed there for the constructor in some builds
    try {
        m.manager->InitCardList(0, nullptr);
        ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), kNotFound);
    }
    const std::string log = m.StopAndReadLog();
    EXPECT_TRUE(LogHasRecord(log, kSource, kNotFound));
    // The message is followed by a second record, the stream's own error text.
    const std::string column = std::string(kSource).substr(0, 30);
    std::size_t first = log.find(column);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(column, first + column.size()), std::string::npos);
}

TEST(CardList, ConstructorPrefersEmbeddedCatalogueOverFile) {
    std::size_t size = 0;
    if (EmbeddedCatalogue(&size) == nullptr) {
        GTEST_SKIP() << "built without an embedded catalogue";
    }
    TempDir dir;
    WriteFile("cardlist.json", "not a catalogue");
    CSmartCardManager manager;
    Json::Value expected;
    {
        Json::CharReaderBuilder builder;
        std::string errors;
        std::istringstream stream(ProgramCatalogue());
        ASSERT_TRUE(Json::parseFromStream(builder, stream, &expected, &errors));
    }
    EXPECT_EQ(manager.m_cardList, expected);
    EXPECT_TRUE(manager.m_cardListParsed);
}

}  // namespace
