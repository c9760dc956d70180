// Cards the catalogue does not know, checked by the console check on the rig. The check runs
// in a mount namespace of its own, where directories of the test stand for p11-kit's module
// registrations (/usr/share/p11-kit/modules, and /etc/pkcs11 where the system has one) and,
// when the test says so, for pcsc-tools' directory with the system's ATR list: the check sees
// only the modules the test registers, and the system's configuration stays as it is. The
// check runs as root there, so p11-kit reads no user configuration; its HOME is the test's
// all the same.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crypto/Certificate.h"
#include "support/Command.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kModuleDirectory = "/usr/share/p11-kit/modules";
constexpr const char* kSystemConfigDirectory = "/etc/pkcs11";
constexpr const char* kAtrListDirectory = "/usr/share/pcsc";
// An ATR the test catalogue lacks.
constexpr const char* kAtr = "3B8880014C554D4944454D4F17";
const std::string kUnknownLine = std::string("Smart card '") + kAtr + "' non riconosciuta";

bool DirectoryExists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ServesLine(const std::string& module) {
    return "Driver di sistema '" + module + "' riconosce la carta";
}

// The lines of the console check's "Messaggi:" section.
std::vector<std::string> Messages(const std::string& output) {
    std::vector<std::string> lines;
    const std::size_t section = output.find("\nMessaggi:\n");
    if (section == std::string::npos) {
        return lines;
    }
    std::size_t at = section + 11;
    for (std::size_t end = output.find('\n', at);
         end != std::string::npos && output.compare(at, 2, "  ") == 0;
         at = end + 1, end = output.find('\n', at)) {
        lines.push_back(output.substr(at + 2, end - at - 2));
    }
    return lines;
}

// A field line of the console check's report.
std::string Field(const std::string& name, const std::string& value) {
    std::string line = name;
    line.resize(18, ' ');
    return "\n" + line + " " + value + "\n";
}

class UnknownCardTest : public testing::Test {
protected:
    void SetUp() override {
        if (!DirectoryExists(kModuleDirectory)) {
            GTEST_SKIP() << kModuleDirectory << " does not exist: p11-kit registers nothing here";
        }
        if (RunShell("unshare -m --propagation private true").status != 0) {
            GTEST_SKIP() << "no private mount namespace can be made (the tests run as root in CI)";
        }
        std::filesystem::create_directories(modules);
        std::filesystem::create_directories(empty);
        std::filesystem::create_directories(work);
        // A catalogue that knows another card only.
        WriteFile(
            work + "/cardlist.json",
            R"({"version": "1.0.0.0", "linux": [{"type": "CCID", "atr": "3B021450",)"
            R"( "drivers": "/nonexistent.so", "askpin": "true", "tryreusedriver": "true"}]})");
    }

    // Registers `fileName` with p11-kit under `name` (the order in which p11-kit lists them).
    void Register(const std::string& name, const std::string& fileName) const {
        WriteFile(modules + "/" + name + ".module", "module: " + fileName + "\n");
    }

    // Which ATR list the check finds: atrListText as the system's, none at all (an empty
    // directory stands for pcsc-tools'), or the system's own.
    enum class AtrList { Fixture, None, System };

    // The console check in a namespace of its own, `runner` (a command and its arguments)
    // before it.
    CommandRun Check(AtrList atrList, const std::string& runner = "") const {
        std::string mounts = "mount --bind '" + modules + "' " + kModuleDirectory;
        if (DirectoryExists(kSystemConfigDirectory)) {
            mounts += " && mount --bind '" + empty + "' " + kSystemConfigDirectory;
        }
        if (atrList == AtrList::Fixture) {
            const std::string listDirectory = dir.path() + "/pcsc";
            std::filesystem::create_directories(listDirectory);
            WriteFile(listDirectory + "/smartcard_list.txt", atrListText);
            mounts += " && mount --bind '" + listDirectory + "' " + kAtrListDirectory;
        } else if (atrList == AtrList::None && DirectoryExists(kAtrListDirectory)) {
            mounts += " && mount --bind '" + empty + "' " + kAtrListDirectory;
        }
        return RunShell("unshare -m --propagation private sh -c \"" + mounts + " && cd '" + work +
                        "' && exec env -u XDG_CONFIG_HOME HOME='" + work + "' " + runner +
                        LUMIDOR_CHECK_PROGRAM "\"");
    }
    std::string Log() const { return ReadFile(work + "/Lumidor.log"); }

    TempDir dir;
    const std::string modules = dir.path() + "/modules";
    const std::string empty = dir.path() + "/empty";
    const std::string work = dir.path() + "/work";
    std::string atrListText;
};

TEST_F(UnknownCardTest, ModulesWhoseSlotNamesTheReaderServeTheCard) {
    if (!SoftHsmToken::Installed()) {
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    }
    if (!DirectoryExists(kAtrListDirectory)) {
        GTEST_SKIP() << kAtrListDirectory << " does not exist: pcsc-tools is not installed";
    }
    SoftHsmToken token(dir.path(), "Software token");
    TestCertificates certificates(dir.path() + "/certificates");
    const TestCertificate& expiring = certificates.Get("expiring");
    VirtualCard card(1, kAtr);

    // A token of another name first, then the reader's, whose certificate expires soon.
    ScriptedModule first(dir.path(), "first.so");
    first.SetScript("info.version=3.7\nslot=1|1|Other token|Altro\nslot=4|1|" + card.readerName() +
                    "|Carta di sistema\nprivate_keys_hidden=0\nkey=Firma|" + expiring.id +
                    "|0|0\ncertificate=Firma|" + expiring.id + "|" + expiring.certificateDer +
                    "\n");
    ScriptedModule second(dir.path(), "second.so");
    second.SetScript("slot=2|1|" + card.readerName() + "\n");
    // A token in the other reader, and a reader without token.
    ScriptedModule other(dir.path(), "other.so");
    other.SetScript("slot=1|1|" + RigReaderName(0) + "\nslot=2|0|" + card.readerName() + "\n");
    Register("a-first", first.path());
    Register("b-second", second.path());
    Register("c-other", other.path());
    Register("d-softhsm", SoftHsmToken::kModule);

    atrListText =
        "# Lumidor's own\n\n3B 88 80 01 4C 55 4D 49 44 45 4D 4F ..\n"
        "\tLumidor test card\n\thttps://example.org/lumidor\n\n"
        "3B 02 14 50\n\tAnother card\n";
    const CommandRun run = Check(AtrList::Fixture);
    const std::string& output = run.output;
    EXPECT_EQ(run.status, 0) << output;
    EXPECT_EQ(Messages(output),
              (std::vector<std::string>{kUnknownLine,
                                        "Carta presente nell'elenco di sistema: Lumidor test card; "
                                        "https://example.org/lumidor",
                                        ServesLine(first.path()), ServesLine(second.path()),
                                        "Attenzione: il certificato '" + expiring.commonName +
                                            "' scade il " + LocalDate(expiring.validUntil)}))
        << output;
    EXPECT_NE(output.find(Field("Driver abbinati", first.path() + "," + second.path())),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(Field("Driver caricati", first.path() + ", " + second.path())),
              std::string::npos);
    EXPECT_NE(output.find(Field("Driver in uso", first.path())), std::string::npos);
    EXPECT_NE(output.find(Field("Posizione driver", first.path())), std::string::npos);
    EXPECT_NE(output.find(Field("Versione driver", "3.7.0.0")), std::string::npos);
    EXPECT_NE(output.find(Field("Etichetta token", "Carta di sistema")), std::string::npos);
    EXPECT_EQ(first.Value("last.C_OpenSession.slot"), "4");

    const std::string log = Log();
    EXPECT_NE(log.find("Driver '" + first.path() + "' comes from the system's modules (p11-kit)."),
              std::string::npos);
    EXPECT_EQ(log.find("comes from the catalogue"), std::string::npos);
}

TEST_F(UnknownCardTest, NoModuleWithATokenInTheReaderLeavesTheCardUnknown) {
    if (!SoftHsmToken::Installed()) {
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    }
    SoftHsmToken token(dir.path(), "Software token");
    VirtualCard card(1, kAtr);
    ScriptedModule other(dir.path(), "other.so");
    other.SetScript("slot=1|1|" + RigReaderName(0) + "\n");
    Register("other", other.path());
    Register("softhsm", SoftHsmToken::kModule);

    // No ATR list at all.
    const CommandRun run = Check(AtrList::None);
    const std::string& output = run.output;
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_NE(output.find("\nRisultato: 0x8010000D (SCARD_E_UNKNOWN_CARD)\n"), std::string::npos)
        << output;
    // The modules' trials speak only to the log.
    EXPECT_EQ(Messages(output), std::vector<std::string>{kUnknownLine}) << output;
    for (const char* field : {"Driver abbinati", "Driver caricati", "Driver in uso",
                              "Posizione driver", "Versione driver", "Etichetta token"}) {
        EXPECT_NE(output.find(Field(field, "")), std::string::npos) << field;
    }
    const std::string log = Log();
    EXPECT_NE(log.find("No system ATR list at '/usr/share/pcsc/smartcard_list.txt'"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("No module of p11-kit has a token in reader '" + card.readerName() + "'."),
              std::string::npos);
}

// The system's OpenSC, registered as its package registers it, binds the virtual OpenPGP
// card of its own accord; the system's ATR list, when installed, names the card.
TEST_F(UnknownCardTest, OpenScServesTheOpenPgpCard) {
    if (!SoftHsmToken::Installed()) {
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    }
    SoftHsmToken token(dir.path(), "Software token");
    VirtualCard card(0, OpenPgpCard{dir.path() + "/card"});
    Register("opensc-pkcs11", "opensc-pkcs11.so");
    Register("softhsm2", SoftHsmToken::kModule);

    const CommandRun run = Check(AtrList::System);
    const std::string& output = run.output;
    EXPECT_EQ(run.status, 0) << output;
    const std::string openSc = LUMIDOR_P11_MODULE_PATH "/opensc-pkcs11.so";
    std::vector<std::string> expected = {
        "Smart card '3BDA18FF81B1FE751F030031F573C001600090001C' non riconosciuta",
        ServesLine(openSc)};
    if (DirectoryExists(kAtrListDirectory)) {
        expected.insert(expected.begin() + 1,
                        "Carta presente nell'elenco di sistema: OpenPGP Card V3");
    }
    EXPECT_EQ(Messages(output), expected) << output;
    EXPECT_NE(output.find(Field("Driver in uso", openSc)), std::string::npos) << output;
    EXPECT_NE(output.find(Field("Etichetta token", "OpenPGP card (User PIN)")), std::string::npos);
    // The final session reads the card's certificate.
    EXPECT_NE(output.find("\n   Etichetta       AUT certificate\n"), std::string::npos);
}

// A registered module whose loading never ends: the wait is named in the log, and the check
// can still be ended as any hung call can.
TEST_F(UnknownCardTest, AModuleThatHangsAsP11KitLoadsItIsNamedAndEscapable) {
    ScriptedModule hanging(dir.path(), "hanging.so");
    hanging.SetScript("hang_at_load=1\n");
    Register("hanging", hanging.path());
    VirtualCard card(0, kAtr);
    const CommandRun run = Check(AtrList::None, "timeout --preserve-status -s TERM 3 ");
    EXPECT_EQ(run.status, 128 + SIGTERM) << run.output;
    EXPECT_EQ(hanging.Count("loads"), 1);
    EXPECT_NE(Log().find("Loading the modules registered with p11-kit..."), std::string::npos)
        << Log();
}

}  // namespace
