#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "platform/ModuleLoader.h"
#include "platform/SystemText.h"
#include "support/Elf32File.h"
#include "support/TempDir.h"
#include "testmodule/ScriptedModule.h"

namespace {

struct LoadFailure {
    const char* what;
    std::function<std::string(const std::string& dir)> make;  // returns the name to load
    uint32_t code;
};

void PrintTo(const LoadFailure& c, std::ostream* out) {
    *out << c.what;
}

class LoadFailureTest : public ::testing::TestWithParam<LoadFailure> {};

TEST_P(LoadFailureTest, GivesTheWindowsCodeAndKeepsTheLinkersReason) {
    TempDir dir;
    std::string name = GetParam().make(dir.path());
    EXPECT_EQ(LoadModule(name), nullptr);
    EXPECT_EQ(ModuleLastError(), GetParam().code);
    EXPECT_FALSE(ModuleLastReason().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadFailureTest,
    ::testing::Values(
        LoadFailure{"MissingBareName",
                    [](const std::string&) { return std::string("lumidor-no-such-module.so"); },
                    kErrorModuleNotFound},
        LoadFailure{"MissingPath",
                    [](const std::string&) { return std::string("./absent/none.so"); },
                    kErrorModuleNotFound},
        LoadFailure{"EmptyName", [](const std::string&) { return std::string(); },
                    kErrorModuleNotFound},
        LoadFailure{"ShortTextFile",
                    [](const std::string& d) {
                        WriteFile(d + "/short.so", "not a module\n");
                        return d + "/short.so";
                    },
                    kErrorBadExeFormat},
        LoadFailure{"LongTextFile",
                    [](const std::string& d) {
                        WriteFile(d + "/text.so", std::string(4096, 'x'));
                        return d + "/text.so";
                    },
                    kErrorBadExeFormat},
        LoadFailure{"Elf32",
                    [](const std::string& d) {
                        WriteElf32(d + "/elf32.so");
                        return d + "/elf32.so";
                    },
                    kErrorBadExeFormat},
        LoadFailure{"UnresolvedSymbol", [](const std::string&) { return BuiltUnresolvedModule(); },
                    kErrorProcNotFound},
        LoadFailure{"Directory",
                    [](const std::string& d) {
                        std::filesystem::create_directory(d + "/dir.so");
                        return d + "/dir.so";
                    },
                    kErrorDllInitFailed}),
    [](const ::testing::TestParamInfo<LoadFailure>& info) { return info.param.what; });

TEST(LoadErrorCodeTest, ReadsTheReasonAfterTheFileName) {
    // Access denied cannot be produced for root; the name must not be read as the reason.
    EXPECT_EQ(
        LoadErrorCode("/m/x.so: cannot open shared object file: Permission denied", "/m/x.so"),
        kErrorAccessDenied);
    EXPECT_EQ(LoadErrorCode("/m/file too short.so: cannot open shared object file: No such "
                            "file or directory",
                            "/m/file too short.so"),
              kErrorModuleNotFound);
}

TEST(LoaderTest, EmptyNameDoesNotHandBackTheProgram) {
    EXPECT_EQ(LoadModule(""), nullptr);
    EXPECT_EQ(ModuleLastError(), kErrorModuleNotFound);
}

TEST(LoaderTest, EntryPointLookup) {
    TempDir dir;
    ScriptedModule with(dir.path(), "with.so");
    ScriptedModule without(dir.path(), "without.so", false);

    ModuleHandle module = LoadModule(with.path());
    ASSERT_NE(module, nullptr);
    EXPECT_NE(ModuleEntryPoint(module, "C_GetFunctionList"), nullptr);
    EXPECT_EQ(ModuleLastError(), 0u);
    ReleaseModule(module);

    module = LoadModule(without.path());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ModuleEntryPoint(module, "C_GetFunctionList"), nullptr);
    EXPECT_EQ(ModuleLastError(), kErrorProcNotFound);
    EXPECT_NE(ModuleLastReason().find("C_GetFunctionList"), std::string::npos);
    ReleaseModule(module);

    EXPECT_EQ(ModuleEntryPoint(nullptr, "C_GetFunctionList"), nullptr);
    EXPECT_EQ(ModuleLastError(), kErrorModuleNotFound);
    // Each load was undone: the module's image went away twice.
    EXPECT_EQ(with.Count("loads"), 1);
    EXPECT_EQ(with.Count("unloads"), 1);
}

TEST(LoaderTest, FullPathOfARelativeLoadIsAbsolute) {
    TempDir dir;
    ScriptedModule module(dir.path(), "relative.so");
    ModuleHandle handle = LoadModule("./relative.so");
    ASSERT_NE(handle, nullptr);
    std::string path = ModuleFilePath(handle);
    ReleaseModule(handle);
    EXPECT_EQ(path, std::filesystem::canonical(dir.path()).string() + "/relative.so");
}

// The search for a bare name, over directories of the test's own.
class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = ModuleSearchDirectories();
        std::filesystem::create_directory(dir.path() + "/first");
        std::filesystem::create_directory(dir.path() + "/second");
        ModuleSearchDirectories() = {dir.path() + "/first", dir.path() + "/second"};
    }
    void TearDown() override { ModuleSearchDirectories() = saved; }

    std::string Load(const std::string& name) {
        ModuleHandle handle = LoadModule(name);
        std::string path = handle != nullptr ? ModuleFilePath(handle) : std::string();
        ReleaseModule(handle);
        return path;
    }

    TempDir dir;
    std::vector<std::string> saved;
};

TEST_F(SearchTest, DirectoriesAreTriedInOrder) {
    ScriptedModule second(dir.path() + "/second", "lumidor-search.so");
    EXPECT_EQ(Load("lumidor-search.so"), second.path());
    ScriptedModule first(dir.path() + "/first", "lumidor-search.so");
    EXPECT_EQ(Load("lumidor-search.so"), first.path());
    EXPECT_EQ(second.Count("loads"), 1);
}

TEST_F(SearchTest, AFoundFileThatDoesNotLoadEndsTheSearch) {
    WriteElf32(dir.path() + "/first/lumidor-search.so");
    ScriptedModule second(dir.path() + "/second", "lumidor-search.so");
    EXPECT_EQ(Load("lumidor-search.so"), "");
    EXPECT_EQ(ModuleLastError(), kErrorBadExeFormat);
    EXPECT_EQ(second.Count("loads"), 0);
}

TEST_F(SearchTest, NamesWithADirectoryAreNotSearched) {
    ScriptedModule second(dir.path() + "/second", "lumidor-search.so");
    EXPECT_EQ(Load("./lumidor-search.so"), "");
    EXPECT_EQ(ModuleLastError(), kErrorModuleNotFound);
}

TEST(LoaderTest, TheSystemsModuleDirectoryComesFirst) {
    ASSERT_FALSE(ModuleSearchDirectories().empty());
    EXPECT_EQ(ModuleSearchDirectories().front(), LUMIDOR_P11_MODULE_PATH);
    EXPECT_EQ(ModuleSearchDirectories().back(), "/usr/lib");
}

struct NamedVersion {
    const char* name;
    bool found;
    uint16_t version[4];
};

TEST(VersionTest, FromTheFileNamesNumericSuffix) {
    const NamedVersion cases[] = {
        {"libx.so.1.2.3", true, {1, 2, 3, 0}},
        {"libx.so.10.2.300.4", true, {10, 2, 300, 4}},
        {"libx.so.7", true, {7, 0, 0, 0}},
        {"libx.so.65535.0", true, {65535, 0, 0, 0}},
        {"libx.so", false, {}},
        {"libx.so.", false, {}},
        {"libx.so.1..2", false, {}},
        {"libx.so.1.2a", false, {}},
        {"libx.so.65536", false, {}},
        {"libx.so.1.2.3.4.5", false, {}},
    };
    for (const NamedVersion& c : cases) {
        uint16_t version[4] = {9, 9, 9, 9};
        EXPECT_EQ(VersionFromFileName(c.name, version), c.found) << c.name;
        if (c.found) {
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(version[i], c.version[i]) << c.name << " part " << i;
            }
        }
    }
}

TEST(VersionTest, SymlinksAreResolved) {
    TempDir dir;
    ScriptedModule module(dir.path(), "libscripted.so.3.4.5");
    std::filesystem::create_symlink(module.path(), dir.path() + "/libscripted.so");
    uint16_t version[4] = {};
    ASSERT_TRUE(ModuleFileVersion(dir.path() + "/libscripted.so", version));
    EXPECT_EQ(version[0], 3);
    EXPECT_EQ(version[1], 4);
    EXPECT_EQ(version[2], 5);
    EXPECT_EQ(version[3], 0);
    // The suffix is enough: the module is not loaded for it.
    EXPECT_EQ(module.Count("loads"), 0);
}

TEST(VersionTest, NoneWithoutASuffixAndNothingLoaded) {
    TempDir dir;
    ScriptedModule module(dir.path(), "libscripted.so");
    module.SetScript("info.version=7.12\n");
    uint16_t version[4] = {9, 9, 9, 9};
    EXPECT_FALSE(ModuleFileVersion(module.path(), version));
    EXPECT_FALSE(ModuleFileVersion(dir.path() + "/gone.so", version));
    EXPECT_FALSE(ModuleFileVersion("", version));
    EXPECT_EQ(version[0], 9);
    EXPECT_EQ(module.Count("loads"), 0);
}

}  // namespace
