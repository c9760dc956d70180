// Loading and validation of the catalogue text.

#include <gtest/gtest.h>
#include <json/reader.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CatalogueTestSupport.h"
#include "catalogue/EmbeddedCatalogue.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::InitCardList";
constexpr const char* kNotFound = "File definizione carte non trovato";
constexpr const char* kBadVersion = "Versione del file non valida";
constexpr const char* kBadArray = "Array per sistema operativo non valido";

// The parser's own message for a text it refuses, as the loader raises it.
std::string ParserMessage(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream stream(text);
    try {
        Json::parseFromStream(builder, stream, &root, &errors);
    } catch (const Json::Exception& error) {
        return error.what();
    }
    return errors;
}

// The log writes a record's line ends as blanks; its records are read without trailing blanks.
std::string AsLogged(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

constexpr const char* kParserMessage = "(the parser's message)";

struct LoadCase {
    const char* name;
    const char* text;
    const char* error;  // null: the text loads; kParserMessage: the parser refuses it
};

const LoadCase kLoadCases[] = {
    {"MinimalWithEmptyArray", R"({"version":"1","linux":[]})", nullptr},
    {"Comments",
     "// line comment\n{/* block */\"version\":\"2\", // after\n\"linux\":[] /* none */}\n// end",
     nullptr},
    {"OtherSystemsHoldAnything", R"({"version":"1","windows":{},"osx":7,"linux":[]})", nullptr},
    {"LaterDuplicateCounts", R"({"version":"","version":"3","linux":{},"linux":[]})", nullptr},
    {"TextAfterRootIgnored", R"({"version":"1","linux":[]} trailing words)", nullptr},
    {"EmptyVersion", R"({"version":"","linux":[]})", kBadVersion},
    {"NumericVersion", R"({"version":1,"linux":[]})", kBadVersion},
    {"MissingVersion", R"({"linux":[]})", kBadVersion},
    {"NotJson", "this is no catalogue", kParserMessage},
    {"EmptyText", "", kParserMessage},
    {"SingleQuotes", R"({'version':'1','linux':[]})", kParserMessage},
    {"CutInsideAnEntry", R"({"version":"1","linux":[{"type":"CCID","atr":"3B00"},{"type":"CC)",
     kParserMessage},
    {"CutAfterAnEntry", R"({"version":"1","linux":[{"type":"CCID","atr":"3B00"})", kParserMessage},
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
    const std::string expected = c.error == kParserMessage ? ParserMessage(c.text) : c.error;
    ASSERT_FALSE(expected.empty());
    try {
        m.Load(c.text);
        ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), expected);
    }
    if (c.error == kParserMessage) {
        // Nothing of a refused text stays loaded.
        EXPECT_FALSE(m.manager->m_cardListParsed);
        EXPECT_FALSE(m.manager->m_cardList.isMember("linux"));
    }
    EXPECT_TRUE(LogHasRecord(m.StopAndReadLog(), kSource, AsLogged(expected)));
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

TEST(CardList, RootThatIsNoObjectHasNoVersion) {
    for (const char* text :
         {"[1,2]", "\"text\"", "42", "null", "7 {\"version\":\"1\",\"linux\":[]}"}) {
        SCOPED_TRACE(text);
        ManagerInTempDir m;
        try {
            m.Load(text);
            ADD_FAILURE() << "loaded";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), kBadVersion);
        }
        EXPECT_TRUE(LogHasRecord(m.StopAndReadLog(), kSource, kBadVersion));
    }
}

// More nesting than the parser allows: its own error leaves the loader unchanged.
std::string DeeplyNested() {
    return R"({"deep":)" + std::string(1200, '[') + std::string(1200, ']') +
           R"(,"version":"1","linux":[]})";
}

TEST(CardList, ParserErrorIsRaisedAndLoggedForTextAndFile) {
    const std::string message = ParserMessage(DeeplyNested());
    ASSERT_FALSE(message.empty());
    for (bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "text");
        ManagerInTempDir m;
        WriteFile("cardlist.json", DeeplyNested());
        try {
            if (fromFile) {
                m.manager->InitCardList(0, nullptr);
            } else {
                m.Load(DeeplyNested());
            }
            ADD_FAILURE() << "loaded";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), message);
        }
        const std::vector<LoggedRecord> log = m.StopAndReadLog();
        EXPECT_TRUE(LogHasRecord(log, kSource, AsLogged(message)));
        EXPECT_FALSE(LogHasRecord(log, kSource, kBadVersion));
    }
}

TEST(CardList, ProductCatalogueCutShortIsRefused) {
    const std::string catalogue = ProgramCatalogue();
    ManagerInTempDir m;
    // Cut in the middle of the second "linux" entry.
    const std::size_t linux = catalogue.find("\"linux\"");
    ASSERT_NE(linux, std::string::npos);
    const std::size_t cut =
        catalogue.find("\"atr\"", catalogue.find("\n", catalogue.find("\n", linux) + 1));
    ASSERT_NE(cut, std::string::npos);
    EXPECT_THROW(m.manager->InitCardList(cut, catalogue.data()), std::runtime_error);
    EXPECT_FALSE(m.manager->m_cardListParsed);
    // Its first, complete entries are not kept either.
    EXPECT_FALSE(m.manager->m_cardList.isMember("linux"));
}

TEST(CardList, NullTextReadsFileFromCurrentDirectory) {
    ManagerInTempDir m;
    WriteFile("cardlist.json", "// from the file\r\n{\"version\":\"7.7\",\"linux\":[{}]}\r\n");
    m.manager->InitCardList(0, nullptr);
    EXPECT_TRUE(m.manager->m_cardListParsed);
    EXPECT_EQ(m.manager->m_cardList["version"].asString(), "7.7");
    EXPECT_EQ(m.manager->m_cardList["linux"].size(), 1u);
}

TEST(CardList, CatalogueFileMissingOrNoRegularFileIsNotFound) {
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"missing", [] {}},
        {"directory", [] { std::filesystem::create_directory("cardlist.json"); }},
        // Opening a FIFO without a writer would wait for ever.
        {"FIFO", [] { ASSERT_EQ(mkfifo("cardlist.json", 0600), 0); }},
        {"link to a device", [] { std::filesystem::create_symlink("/dev/zero", "cardlist.json"); }},
    };
    for (const auto& [what, make] : cases) {
        SCOPED_TRACE(what);
        ManagerInTempDir m;
        // Placed there for the constructor in some builds.
        std::filesystem::remove_all("cardlist.json");
        make();
        try {
            m.manager->InitCardList(0, nullptr);
            ADD_FAILURE() << "loaded";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), kNotFound);
        }
        const std::vector<LoggedRecord> log = m.StopAndReadLog();
        EXPECT_TRUE(LogHasRecord(log, kSource, kNotFound));
        EXPECT_FALSE(LogHasRecord(log, kSource, kBadVersion));
        // The message is followed by a second record, the reason.
        EXPECT_GE(RecordsOf(log, kSource).size(), 2u);
    }
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
