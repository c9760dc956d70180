// The main window driven as a user does, on the rig's pcscd with the virtual card and the
// scriptable PKCS#11 module (and a scripted PC/SC service where the rig cannot help).

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "UiTest.h"
#include "platform/ModuleLoader.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/rig/FakePcsc.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"
#include "ui/Certificates.h"
#include "ui/LumidorDlg.h"
#include "ui/TokenInfo.h"
#include "ui/resource.h"

namespace {

constexpr const char* kKnownAtr = "3B021450";
constexpr const char* kUnknownAtr = "3B021451";

std::string Catalogue(const std::string& atr, const std::string& drivers) {
    return R"({"version": "1.0.0.0", "linux": [{"type": "CCID", "atr": ")" + atr +
           R"(", "drivers": ")" + drivers +
           R"(", "askpin": "true", "tryreusedriver": "true", "comment": "test card"}]})";
}

class MainWindowTest : public WindowTest {
protected:
    std::vector<std::string> Lines() const { return Items(window->m_messageList); }

    std::vector<std::string> DriverItems() const { return Items(window->m_driverCombo); }

    // The three buttons that work on the checked token are enabled together.
    bool ButtonsEnabled() const {
        EXPECT_EQ(window->m_tokenInfoButton.IsWindowEnabled(),
                  window->m_testButton.IsWindowEnabled());
        EXPECT_EQ(window->m_certificatesButton.IsWindowEnabled(),
                  window->m_testButton.IsWindowEnabled());
        return window->m_testButton.IsWindowEnabled();
    }

    void ExpectEmptyCardFields() const {
        EXPECT_EQ(Text(*window, IDC_ATR), "");
        EXPECT_EQ(Text(*window, IDC_CARD_DRIVERS), "");
        EXPECT_EQ(Text(*window, IDC_DRIVER_PATH), "");
        EXPECT_EQ(Text(*window, IDC_DRIVER_VERSION), "");
    }

    // The value fields of the token information dialog, opened with " ... ".
    std::string TokenLabelShown() {
        std::string label;
        ModalScript script([&](CDialogEx& dialog) {
            label = Text(dialog, IDC_TOKEN_LABEL);
            Click(dialog, IDOK);
        });
        Click(*window, IDC_TOKEN_INFO);
        EXPECT_EQ(script.Runs(), 1);
        return label;
    }

    TempDir dir;
};

// ---- On the rig ----

class RigWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        moduleA.SetScript("slot=1|1|" + RigReaderName(1) +
                          "\ntoken.label=Prima\ntoken.flags=0x40D\n"
                          "key=Chiave A|01|0|0\npin=1234\n");
    }
    ScriptedModule moduleA{dir.path(), "modulo_a.so"};
};

TEST_F(RigWindowTest, TwoReadersWithTheCardInTheSecondSelectsAndChecksIt) {
    VirtualCard card(1, kKnownAtr);
    Open(Catalogue(kKnownAtr, moduleA.path()));

    auto* readers = qobject_cast<QComboBox*>(window->GetDlgItem(IDC_READER_COMBO));
    ASSERT_EQ(readers->count(), 2);
    EXPECT_EQ(readers->itemText(1).toStdString(), RigReaderName(1));
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 1);
    EXPECT_EQ(Text(*window, IDC_ATR), kKnownAtr);
    EXPECT_EQ(Text(*window, IDC_CARD_DRIVERS), moduleA.path());
    EXPECT_EQ(DriverItems(), std::vector<std::string>{moduleA.path()});
    EXPECT_EQ(window->m_driverCombo.GetCurSel(), 0);
    EXPECT_EQ(Text(*window, IDC_DRIVER_PATH), moduleA.path());
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(TokenLabelShown(), " Prima");
    SaveScreenshot(window->GetWidget(), "main-window");

    // Resizing moves nothing.
    QRect atrPlace = window->GetDlgItem(IDC_ATR)->geometry();
    QRect listPlace = window->GetDlgItem(IDC_MESSAGE_LIST)->geometry();
    window->GetWidget()->resize(window->GetWidget()->size() + QSize(200, 150));
    EXPECT_EQ(window->GetDlgItem(IDC_ATR)->geometry(), atrPlace);
    EXPECT_EQ(window->GetDlgItem(IDC_MESSAGE_LIST)->geometry(), listPlace);
}

TEST_F(RigWindowTest, ReaderChoicesCheckTheChosenReaderAndKeepEarlierLines) {
    Open(Catalogue(kKnownAtr, moduleA.path()));
    EXPECT_EQ(window->m_readerCombo.GetCount(), 2);
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), -1) << "no reader holds a card";
    ExpectEmptyCardFields();
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(Lines().empty());

    // The window lists the readers again by itself once the card is in; a choice then
    // checks the chosen reader.
    VirtualCard card(0, kUnknownAtr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Text(*window, IDC_ATR) == kUnknownAtr; }, 30000));
    ChooseItem(*window, IDC_READER_COMBO, 1);
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 1);
    ExpectEmptyCardFields();
    EXPECT_FALSE(ButtonsEnabled());
    ASSERT_FALSE(Lines().empty());
    EXPECT_EQ(Lines().back(), "Nessuna smart card trovata");

    const std::vector<std::string> before = Lines();
    ChooseItem(*window, IDC_READER_COMBO, 0);
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 0);
    EXPECT_EQ(Text(*window, IDC_ATR), kUnknownAtr);
    EXPECT_EQ(Text(*window, IDC_CARD_DRIVERS), "");
    EXPECT_FALSE(ButtonsEnabled());
    const std::vector<std::string> after = Lines();
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + before.size()), before)
        << "earlier lines stay";
    EXPECT_EQ(after[before.size()], "Smart card '3B021451' non riconosciuta");
}

TEST_F(RigWindowTest, DriverChoiceRunsTheDriverCheckAndTheButtonsFollowIt) {
    ScriptedModule moduleB(dir.path(), "modulo_b.so");
    moduleB.SetScript("slot=1|1|" + RigReaderName(1) + "\nresult.C_OpenSession=0xE0\n");
    VirtualCard card(1, kKnownAtr);
    Open(Catalogue(kKnownAtr, moduleA.path() + "," + moduleB.path()));
    EXPECT_EQ(DriverItems(), (std::vector<std::string>{moduleA.path(), moduleB.path()}));
    EXPECT_EQ(window->m_driverCombo.GetCurSel(), 0);
    EXPECT_TRUE(ButtonsEnabled());

    ChooseItem(*window, IDC_DRIVER_COMBO, 1);
    EXPECT_EQ(window->m_manager.m_driverInUse, moduleB.path());
    EXPECT_EQ(window->m_driverCombo.GetCurSel(), 1);
    EXPECT_EQ(Text(*window, IDC_DRIVER_PATH), moduleB.path());
    EXPECT_EQ(Text(*window, IDC_ATR), kKnownAtr) << "the card's fields stay";
    EXPECT_FALSE(ButtonsEnabled());
    ASSERT_FALSE(Lines().empty());
    EXPECT_EQ(Lines().back(), "Errore durante l'utilizzo del driver (" + moduleB.path() +
                                  ") sulla funzione 'C_OpenSession': 0x000000e0");

    ChooseItem(*window, IDC_DRIVER_COMBO, 0);
    EXPECT_EQ(window->m_driverCombo.GetCurSel(), 0);
    EXPECT_EQ(Text(*window, IDC_DRIVER_PATH), moduleA.path());
    EXPECT_TRUE(ButtonsEnabled());
}

TEST_F(RigWindowTest, TestAsksAgainOnAnEmptyPinAndCancelDoesNothing) {
    VirtualCard card(1, kKnownAtr);
    Open(Catalogue(kKnownAtr, moduleA.path()));
    ASSERT_TRUE(ButtonsEnabled());
    const std::vector<std::string> before = Lines();

    {
        ModalScript script([](CDialogEx& dialog) { Click(dialog, IDCANCEL); });
        Click(*window, IDC_TEST);
        EXPECT_EQ(script.Runs(), 1);
    }
    EXPECT_EQ(Lines(), before);
    EXPECT_EQ(moduleA.Count("calls.C_Login"), 0);

    int run = 0;
    std::string fieldAfterOk = "(not read)";
    ModalScript script([&](CDialogEx& dialog) {
        EXPECT_EQ(Text(dialog, IDC_PIN), "");
        if (++run == 2) {
            TypeText(dialog, IDC_PIN, "1234");
        }
        Click(dialog, IDOK);
        fieldAfterOk = Text(dialog, IDC_PIN);
    });
    Click(*window, IDC_TEST);
    EXPECT_EQ(script.Runs(), 2);
    EXPECT_EQ(fieldAfterOk, "") << "the PIN does not stay in the field";
    std::vector<std::string> expected = before;
    expected.insert(expected.end(), {"Trovata 1 chiave privata",
                                     "La credenziale '01' (Chiave A) ha firmato correttamente",
                                     "Smart card testata con successo"});
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(moduleA.Count("calls.C_Login"), 1);
    SaveScreenshot(window->GetWidget(), "main-window-after-test");
}

TEST_F(RigWindowTest, TokenInformationShowsWhatTheLastCheckOrTestRead) {
    VirtualCard card(1, kKnownAtr);
    Open(Catalogue(kKnownAtr, moduleA.path()));
    EXPECT_EQ(TokenLabelShown(), " Prima");

    // The test loads the module again and reads the token anew.
    moduleA.SetScript("slot=1|1|" + RigReaderName(1) +
                      "\ntoken.label=Seconda\nkey=Chiave A|01|0|0\npin=1234\n");
    ModalScript script([](CDialogEx& dialog) {
        TypeText(dialog, IDC_PIN, "1234");
        Click(dialog, IDOK);
    });
    Click(*window, IDC_TEST);
    EXPECT_EQ(Lines().back(), "Smart card testata con successo");
    EXPECT_EQ(TokenLabelShown(), " Seconda");
}

TEST_F(RigWindowTest, CertificatesShowsTheCertificatesTheCheckRead) {
    TestCertificates set(dir.path() + "/certificates");
    const TestCertificate& valid = set.Get("valid");
    const TestCertificate& expired = set.Get("expired");
    moduleA.SetScript("slot=1|1|" + RigReaderName(1) + "\nkey=Firma|\\xa1\\x01|0|0\n" +
                      // The private key is hidden until login: the public one pairs it.
                      "public_key=\\xa1\\x01|" + valid.publicKeyPem + "\n" +
                      "certificate=Firma|\\xa1\\x01|" + valid.certificateDer + "\n" +
                      "certificate=Vecchia|\\xa1\\x02|" + expired.certificateDer + "\n");
    VirtualCard card(1, kKnownAtr);
    Open(Catalogue(kKnownAtr, moduleA.path()));
    ASSERT_TRUE(ButtonsEnabled());

    std::vector<std::vector<std::string>> rows;
    std::string details;
    ModalScript script([&](CDialogEx& dialog) {
        auto& certificates = static_cast<CCertificates&>(dialog);
        for (int item = 0; item < certificates.m_list.GetItemCount(); ++item) {
            rows.push_back({certificates.m_list.GetItemText(item, 0),
                            certificates.m_list.GetItemText(item, 2),
                            certificates.m_list.GetItemText(item, 3)});
        }
        details = Text(dialog, IDC_CERTIFICATE_DETAILS);
        Click(dialog, IDOK);
    });
    Click(*window, IDC_CERTIFICATES);
    EXPECT_EQ(script.Runs(), 1);
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                        {"Mario Rossi", LocalDate(valid.validUntil), "valido"},
                        {"Anna Scaduta", LocalDate(expired.validUntil), "scaduto"}}));
    EXPECT_EQ(details.rfind("Etichetta: Firma\nID: A101\nTitolare: Mario Rossi\n"
                            "Organizzazione: Lumidor Test\nEmittente: Lumidor Test CA\n",
                            0),
              0u)
        << details;
    EXPECT_NE(details.find("Chiave privata sul token: sì\nStato: valido\n"), std::string::npos)
        << details;
}

TEST_F(RigWindowTest, PinDialogWarnsWhenTheLastCheckSawTheFinalTry) {
    moduleA.SetScript("slot=1|1|" + RigReaderName(1) + "\ntoken.flags=0x2040D\n");
    VirtualCard card(1, kKnownAtr);
    Open(Catalogue(kKnownAtr, moduleA.path()));
    std::string warning;
    ModalScript script([&](CDialogEx& dialog) {
        warning = Text(dialog, IDC_PIN_WARNING);
        Click(dialog, IDCANCEL);
    });
    Click(*window, IDC_TEST);
    EXPECT_NE(warning.find("un solo tentativo"), std::string::npos) << warning;
}

TEST_F(RigWindowTest, AboutEntryOfTheWindowMenuOpensTheAboutBox) {
    Open(Catalogue(kKnownAtr, moduleA.path()));
    std::vector<std::string> entries;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                entries.push_back(action->text().toStdString());
            }
        }
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    std::string title;
    ModalScript script([&](CDialogEx& dialog) {
        title = dialog.GetWidget()->windowTitle().toStdString();
        Click(dialog, IDOK);
    });
    // A right click on the window's background, as the toolkit reports it.
    QWidget* target = window->GetWidget();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            target->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(target, &event);
    EXPECT_EQ(entries, std::vector<std::string>{"&Informazioni su Lumidor..."});
    EXPECT_EQ(script.Runs(), 1);
    EXPECT_EQ(title, "Informazioni su Lumidor");
    EXPECT_TRUE(window->GetWidget()->isVisible());

    // The other system commands keep their usual meaning: close ends the window.
    window->SendSysCommand(SC_CLOSE);
    EXPECT_FALSE(window->GetWidget()->isVisible());
}

// ---- With SoftHSM, the real module ----

class SoftHsmWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        token = std::make_unique<SoftHsmToken>(dir.path(), "Token di prova");
        // The key's CKA_ID is the text "01", so that its line names it readably.
        RunCommand(std::string("pkcs11-tool --module ") + SoftHsmToken::kModule +
                   " --login --pin 123456 --keypairgen --key-type rsa:1024 --id 3031"
                   " --label 'Chiave di prova'");
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        token.reset();
    }
    std::unique_ptr<SoftHsmToken> token;
};

TEST_F(SoftHsmWindowTest, CheckTokenInformationAndSigningTestWithTheRealModule) {
    VirtualCard card(0, kKnownAtr);
    Open(Catalogue(kKnownAtr, SoftHsmToken::kModule));
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 0);
    EXPECT_EQ(DriverItems(), std::vector<std::string>{SoftHsmToken::kModule});
    // The module's file, by whatever name it was first loaded under in this process.
    EXPECT_TRUE(std::filesystem::equivalent(Text(*window, IDC_DRIVER_PATH), SoftHsmToken::kModule))
        << Text(*window, IDC_DRIVER_PATH);
    EXPECT_FALSE(Text(*window, IDC_DRIVER_VERSION).empty());
    ASSERT_TRUE(ButtonsEnabled());
    EXPECT_EQ(TokenLabelShown(), " Token di prova");

    ModalScript script([](CDialogEx& dialog) {
        TypeText(dialog, IDC_PIN, "123456");
        Click(dialog, IDOK);
    });
    Click(*window, IDC_TEST);
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 3, lines.end()),
        (std::vector<std::string>{"Trovata 1 chiave privata",
                                  "La credenziale '01' (Chiave di prova) ha firmato correttamente",
                                  "Smart card testata con successo"}));
    SaveScreenshot(window->GetWidget(), "main-window-softhsm");
}

// ---- With OpenSC and the virtual OpenPGP card ----

TEST_F(MainWindowTest, OpenPgpCardWithOpenScThroughTheProductCatalogue) {
    VirtualCard card(0, OpenPgpCard{dir.path() + "/card"});
    Open(ReadFile(LUMIDOR_SOURCE_CARDLIST));
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), 0);
    EXPECT_EQ(Text(*window, IDC_ATR), "3BDA18FF81B1FE751F030031F573C001600090001C");
    EXPECT_EQ(DriverItems(), std::vector<std::string>{"opensc-pkcs11.so"});
    ASSERT_TRUE(ButtonsEnabled());
    EXPECT_EQ(TokenLabelShown(), " OpenPGP card (User PIN)");

    ModalScript script([](CDialogEx& dialog) {
        TypeText(dialog, IDC_PIN, "123456");
        Click(dialog, IDOK);
    });
    Click(*window, IDC_TEST);
    std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 7, lines.end()),
              (std::vector<std::string>{
                  "Trovate 3 chiavi private", "Chiavi del token 'OpenPGP card (User PIN)':",
                  "La credenziale '02' (Encryption key) non e' abilitata alla firma",
                  "La credenziale '03' (Authentication key) ha firmato correttamente",
                  "Chiavi del token 'OpenPGP card (User PIN (sig))':",
                  "La credenziale '01' (Signature key) ha firmato correttamente",
                  "Smart card testata con successo"}));
    SaveScreenshot(window->GetWidget(), "main-window-openpgp");
}

// ---- With a scripted PC/SC service ----

class FakePcscWindowTest : public MainWindowTest {
protected:
    FakePcsc pcsc;
};

TEST_F(FakePcscWindowTest, TenReadersWithoutCardListNothingSelectedAndCheckNothing) {
    for (int i = 0; i < 12; ++i) {
        pcsc.readers.push_back("Lettore " + std::to_string(i));
    }
    Open(Catalogue(kKnownAtr, "nessuno.so"));
    ASSERT_EQ(window->m_readerCombo.GetCount(), 10);
    EXPECT_EQ(window->m_readerCombo.GetLBText(9), "Lettore 9");
    EXPECT_EQ(window->m_readerCombo.GetCurSel(), -1);
    EXPECT_EQ(pcsc.connect.calls, 0);
    EXPECT_TRUE(Lines().empty());
    EXPECT_FALSE(ButtonsEnabled());
}

TEST_F(FakePcscWindowTest, RefreshAfterEveryReaderIsGoneEmptiesAllButTheDriverBox) {
    ScriptedModule module(dir.path(), "modulo.so");
    module.SetScript("slot=1|1|Lettore B\n");
    pcsc.readers = {"Lettore A", "Lettore B"};
    pcsc.states["Lettore B"] = SCARD_STATE_PRESENT;
    pcsc.atrs["Lettore B"] = {0x3B, 0x02, 0x14, 0x50};
    Open(Catalogue(kKnownAtr, module.path()));
    ASSERT_EQ(window->m_readerCombo.GetCurSel(), 1);
    ASSERT_TRUE(ButtonsEnabled());
    ASSERT_FALSE(Lines().empty());
    window->m_readerCombo.SetWindowText("scritto a mano");

    // The window's reader watcher uses the service too.
    pcsc.Locked([&] {
        pcsc.readers.clear();
        pcsc.states.clear();
        pcsc.listReaders.otherwise = static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE);
    });
    Click(*window, IDC_REFRESH);
    EXPECT_EQ(window->m_readerCombo.GetCount(), 0);
    EXPECT_EQ(Text(*window, IDC_READER_COMBO), "");
    ExpectEmptyCardFields();
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(DriverItems(), std::vector<std::string>{module.path()})
        << "the driver box changes only at the next check";
}

TEST_F(FakePcscWindowTest, AManagerOperationThatThrowsIsLoggedShownAndTheWindowGoesOn) {
    pcsc.readers = {"Lettore A"};
    Open(Catalogue(kKnownAtr, "nessuno.so"));
    ASSERT_EQ(window->m_readerCombo.GetCount(), 1);

    // Aggiorna, with the PC/SC service's reader list failing for want of memory.
    // The window's reader watcher uses the service too; it goes on waiting meanwhile, as
    // nothing changes for it.
    pcsc.Locked([&] {
        pcsc.beforeCall = [](const std::string& operation) {
            if (operation == "listReaders") {
                throw std::bad_alloc();
            }
        };
    });
    Click(*window, IDC_REFRESH);
    EXPECT_EQ(Lines(),
              std::vector<std::string>{"Errore interno durante l'operazione: std::bad_alloc"});

    pcsc.Locked([&] {
        pcsc.beforeCall = nullptr;
        pcsc.readers = {"Lettore A", "Lettore B"};
    });
    Click(*window, IDC_REFRESH);
    EXPECT_EQ(window->m_readerCombo.GetCount(), 2) << "the window still works";
    window.reset();
    EXPECT_NE(ReadFile("Lumidor.log").find("The operation ended with an exception: std::bad_alloc"),
              std::string::npos);
}

// Another card goes in while the PIN dialog is open: the PIN goes nowhere, and the window
// catches up with the reader as for any card change.
TEST_F(FakePcscWindowTest, ACardSwappedUnderThePinDialogGetsNoPinAndTheWindowChecksAgain) {
    ScriptedModule module(dir.path(), "modulo.so");
    module.SetScript("slot=1|1|Lettore A\nkey=Firma|K1|0|0\n");
    pcsc.readers = {"Lettore A"};
    pcsc.states["Lettore A"] = SCARD_STATE_PRESENT;
    pcsc.atrs["Lettore A"] = {0x3B, 0x02, 0x14, 0x50};
    Open(Catalogue(kKnownAtr, module.path()));
    ASSERT_TRUE(ButtonsEnabled());
    module.ResetCounters();

    ModalScript script([&](CDialogEx& dialog) {
        pcsc.Locked([&] { pcsc.eventCounts["Lettore A"] += 2; });
        TypeText(dialog, IDC_PIN, "123456");
        Click(dialog, IDOK);
    });
    Click(*window, IDC_TEST);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return module.Count("loads") > 0 && ButtonsEnabled(); }, 30000));
    EXPECT_EQ(module.Count("calls.C_Login"), 0);
    // Listed and checked again: the message list holds the new check's lines.
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Smart card testata con successo"), 0);
    EXPECT_EQ(Text(*window, IDC_ATR), kKnownAtr);
    window.reset();
    const std::string log = ReadFile("Lumidor.log");
    EXPECT_NE(log.find("is not the one checked"), std::string::npos);
    EXPECT_NE(log.find("Readers or cards changed: listed again."), std::string::npos);
}

TEST_F(FakePcscWindowTest, WithoutThePcscServiceTheWindowSaysSo) {
    pcsc.establishContext.otherwise = static_cast<LONG>(SCARD_E_NO_SERVICE);
    Open(Catalogue(kKnownAtr, "nessuno.so"));
    EXPECT_EQ(window->m_readerCombo.GetCount(), 0);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"Il servizio smart card (pcscd) non e' in esecuzione",
                                        "Per avviarlo: sudo systemctl start pcscd.socket"}));
    EXPECT_FALSE(ButtonsEnabled());
}

}  // namespace
