// The system's ATR list as pcsc-tools writes it, read from lists of the test's own and, where
// pcsc-tools is installed, from the system's.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "catalogue/SystemAtrList.h"
#include "platform/ProgramFiles.h"
#include "support/TempDir.h"

namespace {

// A list in the file's own layout: comments, patterns, tab-led descriptions, blank lines.
const char* kList =
    "#\n"
    "# 3B 02 14 50\n"
    "#\ttaken for a description by nobody\n"
    "\n"
    "3B 02 14 50\n"
    "\tSchlumberger Multiflex 3k\n"
    "\n"
    "3B 02 14 5.\n"
    "\tAny Multiflex\n"
    "\thttps://example.org/multiflex\n"
    "\n"
    "3b 8e 80 01 80 31 80 65 49 54 4e 58 50 12 0f ff 82 90 f0\n"
    "\tWritten in lower case\n"
    "\n"
    "3B 39 19 00 53 4F 4D 41 44 53 33 30 3[1,3]\n"
    "\tA class of two digits\n"
    "\n"
    "3B EF 00 FF 81 31 42 45 .* 38\n"
    "\tAny bytes in between\n"
    "\n"
    "3B 67 25 00 2A\n"
    "\t3B 67 25 00 2A 20\n"
    "\n"
    "3B 6F 00 00 80 5A\n"
    "\n"
    "3B 02 14\n"
    "\tOnly a beginning\n";

struct Case {
    const char* what;
    const char* atrHex;
    AtrListOutcome outcome;
    const char* description;
};

TEST(SystemAtrList, MatchesTheWholeAtrTextAsPcscToolsDoes) {
    TempDir dir;
    const std::string path = dir.path() + "/smartcard_list.txt";
    WriteFile(path, kList);
    const Case cases[] = {
        {"ExactAndPatternBothNameIt", "3B021450", AtrListOutcome::Listed,
         "Schlumberger Multiflex 3k; Any Multiflex; https://example.org/multiflex"},
        {"DotIsAnyCharacter", "3B021451", AtrListOutcome::Listed,
         "Any Multiflex; https://example.org/multiflex"},
        {"CardInLowerCase", "3b021451", AtrListOutcome::Listed,
         "Any Multiflex; https://example.org/multiflex"},
        {"PatternInLowerCase", "3B8E80018031806549544E5850120FFF8290F0", AtrListOutcome::Listed,
         "Written in lower case"},
        {"ClassFirstDigit", "3B391900534F4D414453333031", AtrListOutcome::Listed,
         "A class of two digits"},
        {"ClassSecondDigit", "3B391900534F4D414453333033", AtrListOutcome::Listed,
         "A class of two digits"},
        {"OutsideTheClass", "3B391900534F4D414453333032", AtrListOutcome::NotListed, ""},
        {"StarSpansBytes", "3BEF00FF813142450102030438", AtrListOutcome::Listed,
         "Any bytes in between"},
        {"DescriptionIsNoPattern", "3B6725002A20", AtrListOutcome::NotListed, ""},
        {"EntryWithoutDescription", "3B6F0000805A", AtrListOutcome::Listed, "3B 6F 00 00 80 5A"},
        {"PatternIsOnlyABeginning", "3B0214", AtrListOutcome::Listed, "Only a beginning"},
        {"AtrLongerThanThePattern", "3B02145011", AtrListOutcome::NotListed, ""},
        {"NoAtr", "", AtrListOutcome::NotListed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AtrListLookup lookup = LookUpAtrList(path, c.atrHex);
        EXPECT_EQ(lookup.outcome, c.outcome);
        EXPECT_EQ(lookup.description, c.description);
        EXPECT_EQ(lookup.skippedPatterns, 0u);
    }
}

TEST(SystemAtrList, ReadsWindowsLineEnds) {
    TempDir dir;
    const std::string path = dir.path() + "/smartcard_list.txt";
    WriteFile(path, "3B 02 14 50\r\n\tMultiflex\r\n\tsecond line\r\n\r\n");
    const AtrListLookup lookup = LookUpAtrList(path, "3B021450");
    EXPECT_EQ(lookup.outcome, AtrListOutcome::Listed);
    EXPECT_EQ(lookup.description, "Multiflex; second line");
}

TEST(SystemAtrList, PatternsItCannotTrustAreSkippedAndCounted) {
    TempDir dir;
    const std::string path = dir.path() + "/smartcard_list.txt";
    WriteFile(path,
              "3B 02 \\d\\d 50\n\tEscapes\n\n"     // no escapes
              "3B (02){1,9} 14 50\n\tCounted\n\n"  // no counted repetitions
              "3B 02 [14 50\n\tUnclosed\n\n"       // refused by the compiler
              "3B " +
                  std::string(600, '.') + "\n\tToo long\n\n" +  // longer than any ATR
                  "(.*)*(.*)*(.*)*(.*)*(.*)*(.*)*(.*)*(.*)*E\n\tBacktracking trap\n\n" +
                  std::string(200, '(') + "3B" + std::string(200, ')') + "\n\tDeep\n\n" +
                  "3B 02 14 50\n\tStill found\n");
    // An ATR of 33 bytes, the longest there is, against the trap.
    const AtrListLookup trap = LookUpAtrList(path, std::string(66, 'A'));
    EXPECT_EQ(trap.outcome, AtrListOutcome::NotListed);
    EXPECT_EQ(trap.skippedPatterns, 4u);

    const AtrListLookup lookup = LookUpAtrList(path, "3B021450");
    EXPECT_EQ(lookup.outcome, AtrListOutcome::Listed);
    EXPECT_EQ(lookup.description, "Still found");
    EXPECT_EQ(lookup.skippedPatterns, 4u);

    EXPECT_EQ(LookUpAtrList(path, "3B").description, "Deep");
}

// Patterns within every limit that make a backtracking matcher try an exponential number of
// ways: nested repetitions and alternations. They are matched as any other pattern.
TEST(SystemAtrList, NestedAndAlternatingRepetitionsAreMatchedLikeAnyPattern) {
    std::string nested = std::string(100, '(') + "3B.*";
    for (int i = 0; i < 100; ++i) {
        nested += ")*";
    }
    const std::string alternating = "(3|B|3B|.)*(.|..|...| .)*(3B|. |.|..)*E";
    TempDir dir;
    const std::string path = dir.path() + "/smartcard_list.txt";
    WriteFile(path, nested + "E\n\tNested\n\n" + alternating + "\n\tAlternating\n\n" + nested +
                        alternating + "\n\tBoth\n");
    ASSERT_LE(nested.size() + alternating.size(), 512u) << "within the pattern limit";
    // The longest ATR there is, which none of them matches.
    const AtrListLookup none = LookUpAtrList(path, std::string(66, 'A'));
    EXPECT_EQ(none.outcome, AtrListOutcome::NotListed);
    EXPECT_EQ(none.skippedPatterns, 0u);
    const AtrListLookup all = LookUpAtrList(path, "3B02145E");
    EXPECT_EQ(all.outcome, AtrListOutcome::Listed);
    EXPECT_EQ(all.description, "Nested; Alternating; Both");
    EXPECT_EQ(all.skippedPatterns, 0u);
}

TEST(SystemAtrList, ALongDescriptionIsCut) {
    TempDir dir;
    const std::string path = dir.path() + "/smartcard_list.txt";
    std::string list = "3B 02 14 50\n";
    for (int i = 0; i < 100; ++i) {
        list += "\t" + std::string(100, 'd') + "\n";
    }
    WriteFile(path, list);
    EXPECT_EQ(LookUpAtrList(path, "3B021450").description.size(), 1024u);
}

TEST(SystemAtrList, OnlySoManyPatternsAreTried) {
    TempDir dir;
    const std::string path = dir.path() + "/smartcard_list.txt";
    std::string list;
    for (int i = 0; i < 20000; ++i) {
        list += "3B 00\n";
    }
    WriteFile(path, list + "3B 02 14 50\n\tPast the limit\n");
    const AtrListLookup lookup = LookUpAtrList(path, "3B021450");
    EXPECT_EQ(lookup.outcome, AtrListOutcome::NotListed);
    EXPECT_EQ(lookup.skippedPatterns, 1u);
}

TEST(SystemAtrList, ListsThatCannotBeReadAreTold) {
    TempDir dir;
    const std::string large = dir.path() + "/large.txt";
    WriteFile(large, std::string(4 * 1024 * 1024, '#') + "\n3B 02 14 50\n\tToo far\n");
    std::filesystem::create_directory(dir.path() + "/directory");
    const struct {
        const char* what;
        std::string path;
        AtrListOutcome outcome;
    } cases[] = {
        {"Absent", dir.path() + "/absent.txt", AtrListOutcome::Missing},
        {"UnderAFile", large + "/smartcard_list.txt", AtrListOutcome::Missing},
        {"Directory", dir.path() + "/directory", AtrListOutcome::Unreadable},
        {"Larger than 4 MiB", large, AtrListOutcome::TooLarge},
        // An endless file is read only up to the limit.
        {"Endless", "/dev/zero", AtrListOutcome::TooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const AtrListLookup lookup = LookUpAtrList(c.path, "3B021450");
        EXPECT_EQ(lookup.outcome, c.outcome);
        EXPECT_EQ(lookup.description, "");
    }
}

TEST(SystemAtrList, TheSystemsListNamesTheOpenPgpCard) {
    struct stat info;
    const std::string path = SystemAtrListPath();
    if (stat(path.c_str(), &info) != 0) {
        GTEST_SKIP() << "pcsc-tools is not installed";
    }
    const AtrListLookup lookup = LookUpAtrList(path, "3BDA18FF81B1FE751F030031F573C001600090001C");
    EXPECT_EQ(lookup.outcome, AtrListOutcome::Listed);
    EXPECT_EQ(lookup.description, "OpenPGP Card V3");
    EXPECT_EQ(lookup.skippedPatterns, 0u);
}

}  // namespace
