// lumidor-check's command line, parsed in one process case after case as getopt_long sees it:
// each parse starts a scan of its own, whatever the one before left behind.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "check/CheckArguments.h"
#include "manager/SmartCardManager.h"

namespace {

std::optional<CheckOptions> Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "lumidor-check");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return ParseArguments(static_cast<int>(arguments.size()), argv.data());
}

std::string Describe(const CheckOptions& options) {
    return std::string(options.help ? " help" : "") + (options.version ? " version" : "") +
           (options.test ? " test" : "") + (options.json ? " json" : "") +
           (options.quiet ? " quiet" : "") + " position=" + std::to_string(options.readerIndex) +
           " name='" + options.readerName + "'";
}

TEST(CheckArgumentsTest, OptionsAndAPositionInAnyOrder) {
    struct Case {
        std::vector<std::string> arguments;
        std::string options;
    };
    const std::string beyond = " position=" + std::to_string(kMaxReaders) + " name=''";
    const Case cases[] = {
        {{}, " position=-1 name=''"},
        {{"--help"}, " help position=-1 name=''"},
        {{"--version"}, " version position=-1 name=''"},
        {{"--test", "--json", "1"}, " test json position=1 name=''"},
        {{"3", "--quiet", "--test"}, " test quiet position=3 name=''"},
        {{"0"}, " position=0 name=''"},
        {{"007"}, " position=7 name=''"},
        {{"99999999999999999999"}, beyond},
        {{"--reader", "Virtual PCD 00 01", "--test"}, " test position=-1 name='Virtual PCD 00 01'"},
        {{"--json", "--reader", "--quiet"}, " json position=-1 name='--quiet'"},
        {{"--reader", "-"}, " position=-1 name='-'"},
        {{"--help", "--json", "2"}, " help json position=2 name=''"},
    };
    for (const Case& c : cases) {
        const std::optional<CheckOptions> options = Parse(c.arguments);
        ASSERT_TRUE(options.has_value()) << testing::PrintToString(c.arguments);
        EXPECT_EQ(Describe(*options), c.options) << testing::PrintToString(c.arguments);
    }
}

TEST(CheckArgumentsTest, UsageErrors) {
    const std::vector<std::string> cases[] = {
        {"--bogus"},
        {"--json", "--quiet"},
        {"0", "--reader", "Virtual PCD 00 00"},
        {"--reader", "Virtual PCD 00 00", "0"},
        {"--reader"},
        {"--test", "--reader"},
        {"--reader", ""},
        {"--reader", "a", "--reader", "b"},
        {"--test", "--test"},
        {"--help", "--help"},
        {"0", "1"},
        {"-1"},
        {"x"},
        {"+1"},
        {" 1"},
        {"1 "},
        {"1a"},
        {"0x1"},
        {""},
        {"-"},
        {"-h"},
        {"-ab"},
        {"--"},
        {"--", "1"},
        {"1", "--"},
        {"---json"},
        {"--json=yes"},
        // Prefixes of a name, and a name joined to its value, which getopt_long would take.
        {"--he"},
        {"--j"},
        {"--rea", "Virtual PCD 00 00"},
        {"--reader=Virtual PCD 00 00"},
    };
    for (const std::vector<std::string>& arguments : cases) {
        const std::optional<CheckOptions> options = Parse(arguments);
        EXPECT_FALSE(options.has_value())
            << testing::PrintToString(arguments) << " gives" << Describe(*options);
    }
}

// getopt_long keeps where it stopped between calls, down to a letter within a word.
TEST(CheckArgumentsTest, EachParseStartsAfresh) {
    for (const std::vector<std::string>& before :
         std::vector<std::vector<std::string>>{{"-ab"}, {"--test", "--json", "--quiet", "1"}}) {
        EXPECT_FALSE(Parse(before).has_value());
        const std::optional<CheckOptions> options = Parse({"--json"});
        ASSERT_TRUE(options.has_value()) << testing::PrintToString(before);
        EXPECT_EQ(Describe(*options), " json position=-1 name=''");
    }
}

}  // namespace
