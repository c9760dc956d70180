#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <array>
#include <ctime>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "UiTest.h"
#include "ui/AboutDlg.h"
#include "ui/Certificates.h"
#include "ui/PinDialog.h"
#include "ui/TokenInfo.h"
#include "ui/framework/DialogBuilder.h"
#include "ui/framework/DialogTemplate.h"
#include "ui/framework/ProgramResources.h"
#include "ui/resource.h"

namespace {

constexpr CK_ULONG kUnavailable = ~CK_ULONG(0);

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
};

// ---- Templates ----

TEST(DialogTemplateTest, ParsesDialogsFontsAndControls) {
    auto templates = ParseDialogTemplates(
        "# comment\n"
        "dialog\t7\t100\t50\tcaption,sizing\tTitolo\n"
        "font\t9\tSans\n"
        "control\tlabel\t-1\t1\t2\t30\t8\tright,sunken\t a \"b\" \n"
        "control\tedit\t1003\t4\t5\t6\t14\treadonly,border\t\n"
        "control\ttable\t1004\t1\t1\t90\t40\tvscroll,border\tA|B c|\n"
        "control\tedit\t1005\t1\t50\t90\t40\treadonly,multiline\t\n");
    ASSERT_EQ(templates.size(), 1u);
    const DialogTemplate& dialog = templates.at(7);
    EXPECT_EQ(dialog.title, "Titolo");
    EXPECT_EQ(dialog.styles, unsigned(kStyleCaption | kStyleSizing));
    EXPECT_EQ(dialog.fontPoints, 9);
    EXPECT_EQ(dialog.fontFamily, "Sans");
    ASSERT_EQ(dialog.controls.size(), 4u);
    EXPECT_EQ(dialog.controls[0].text, " a \"b\" ");
    EXPECT_EQ(dialog.controls[0].styles, unsigned(kStyleRight | kStyleSunken));
    EXPECT_EQ(dialog.controls[1].kind, ControlKind::Edit);
    EXPECT_EQ(dialog.controls[1].id, 1003);
    EXPECT_EQ(dialog.controls[1].height, 14);
    EXPECT_EQ(dialog.controls[1].text, "");
    EXPECT_EQ(dialog.controls[2].kind, ControlKind::Table);
    EXPECT_EQ(dialog.controls[2].styles, unsigned(kStyleVScroll | kStyleBorder));
    EXPECT_EQ(dialog.controls[2].text, "A|B c|");
    EXPECT_EQ(dialog.controls[3].styles, unsigned(kStyleReadOnly | kStyleMultiline));
}

TEST(DialogTemplateTest, RejectsFaultyLinesNamingTheLine) {
    const std::string head = "dialog\t1\t10\t10\t-\tT\n";
    const std::vector<std::string> faulty = {
        "control\tlabel\t-1\t1\t2\t3\t4\t-\tx\n",            // before any dialog
        head + "control\tslider\t-1\t1\t2\t3\t4\t-\tx\n",    // unknown kind
        head + "control\tlabel\t-1\t1\t2\t3\t4\tbold\tx\n",  // unknown style
        head + "control\tlabel\t-1\t1\tx\t3\t4\t-\tx\n",     // bad number
        head + "control\tlabel\t-1\t1\t2\t3\t4\t-\n",        // missing text field
        head +
            "control\tedit\t5\t1\t2\t3\t4\t-\t\ncontrol\tedit\t5\t1\t2\t3\t4\t-\t\n",  // id twice
        head + head,           // dialog twice
        head + "button\t1\n",  // unknown line
    };
    for (const std::string& text : faulty) {
        try {
            ParseDialogTemplates(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("line "), std::string::npos) << text;
        }
    }
}

TEST(DialogTemplateTest, TheProgramsTemplatesAreThere) {
    for (int id :
         {IDD_ABOUTBOX, IDD_LUMIDOR_DIALOG, IDD_START_TEST, IDD_TOKEN_INFO, IDD_CERTIFICATES}) {
        EXPECT_NE(FindDialogTemplate(id), nullptr) << id;
    }
    EXPECT_EQ(FindDialogTemplate(999), nullptr);
}

// ---- Framework ----

TEST_F(DialogsTest, DialogUnitsFollowTheDialogFont) {
    CAboutDlg about;
    ASSERT_TRUE(about.Create());
    QFontMetrics metrics(about.GetWidget()->font());
    int baseX =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
         1) /
        2;
    int baseY = metrics.height();
    EXPECT_EQ(about.GetWidget()->size(), QSize((170 * baseX + 2) / 4, (62 * baseY + 4) / 8));
    QWidget* ok = about.GetDlgItem(IDOK);
    EXPECT_EQ(ok->geometry(), QRect((113 * baseX + 2) / 4, (41 * baseY + 4) / 8,
                                    (50 * baseX + 2) / 4, (14 * baseY + 4) / 8));
}

TEST_F(DialogsTest, EachControlKindIsMadeByItsMakerAndNotifiesTheDialog) {
    const DialogTemplate dialog = ParseDialogTemplates(
                                      "dialog\t1\t200\t150\tcaption\tFinestra\n"
                                      "control\tlabel\t10\t1\t1\t50\t8\t-\tEtichetta\n"
                                      "control\tgroup\t11\t1\t10\t50\t30\t-\tGruppo\n"
                                      "control\tedit\t12\t1\t40\t50\t14\t-\t\n"
                                      "control\tedit\t13\t1\t60\t50\t30\tmultiline\t\n"
                                      "control\tcombo\t14\t60\t1\t50\t60\t-\t\n"
                                      "control\tlist\t15\t60\t20\t50\t30\t-\t\n"
                                      "control\ttable\t16\t60\t60\t50\t30\t-\tA|B\n"
                                      "control\tbutton\t17\t120\t1\t50\t14\t-\tPremi\n"
                                      "control\ticon\t18\t120\t20\t21\t20\t-\t325\n")
                                      .at(1);
    QDialog window;
    std::vector<std::pair<Notification, int>> notified;
    const auto controls = BuildDialog(dialog, window, [&](Notification notification, int id) {
        notified.emplace_back(notification, id);
    });

    const std::pair<int, const char*> expected[] = {
        {10, "QLabel"},         {11, "QGroupBox"},   {12, "QLineEdit"},
        {13, "QPlainTextEdit"}, {14, "QComboBox"},   {15, "QListWidget"},
        {16, "QTreeWidget"},    {17, "QPushButton"}, {18, "QLabel"},
    };
    ASSERT_EQ(controls.size(), std::size(expected));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i].first, expected[i].first);
        EXPECT_STREQ(controls[i].second->metaObject()->className(), expected[i].second)
            << expected[i].first;
        EXPECT_EQ(controls[i].second->parentWidget(), &window);
    }
    EXPECT_EQ(window.windowTitle(), "Finestra");
    EXPECT_FALSE(qobject_cast<QLabel*>(controls[8].second)->pixmap().isNull())
        << "the icon control shows the registered icon";

    QTest::mouseClick(controls[7].second, Qt::LeftButton);
    auto* combo = qobject_cast<QComboBox*>(controls[4].second);
    combo->addItems({"uno", "due"});
    QTest::keyClick(combo, Qt::Key_Down);
    auto* table = qobject_cast<QTreeWidget*>(controls[6].second);
    table->setCurrentItem(new QTreeWidgetItem(table, QStringList{"riga"}));
    const std::vector<std::pair<Notification, int>> routed = {{Notification::Clicked, 17},
                                                              {Notification::SelChange, 14},
                                                              {Notification::ItemChanged, 16}};
    EXPECT_EQ(notified, routed);
}

TEST_F(DialogsTest, AControlKindWithoutMakerIsRefusedBeforeTheWindowIsTouched) {
    DialogTemplate dialog;
    dialog.title = "Finestra";
    dialog.controls.push_back({ControlKind::Button, 1, 0, 0, 50, 14, 0, "OK"});
    dialog.controls.push_back({static_cast<ControlKind>(99), 2, 0, 20, 50, 14, 0, ""});
    QDialog window;
    EXPECT_THROW(BuildDialog(dialog, window, [](Notification, int) {}), std::logic_error);
    EXPECT_TRUE(window.findChildren<QWidget*>().isEmpty());
    EXPECT_TRUE(window.windowTitle().isEmpty());
}

TEST_F(DialogsTest, ComboBoxBehavesLikeItsWindowsModel) {
    QComboBox box;
    box.setEditable(true);
    CComboBox combo;
    combo.Attach(&box);
    EXPECT_EQ(combo.AddString("Alpha"), 0);
    EXPECT_EQ(combo.AddString("beta"), 1);
    EXPECT_EQ(combo.AddString("BETA"), 2);
    EXPECT_EQ(combo.GetCurSel(), -1) << "adding items selects nothing";
    EXPECT_EQ(combo.FindStringExact(-1, "Beta"), 1);
    EXPECT_EQ(combo.FindStringExact(1, "Beta"), 2);
    EXPECT_EQ(combo.FindStringExact(2, "beta"), 1) << "the search wraps";
    EXPECT_EQ(combo.FindStringExact(-1, "bet"), -1) << "whole texts only";
    combo.SetCurSel(2);
    EXPECT_EQ(combo.GetWindowText(), "BETA");
    combo.SetCurSel(-1);
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(combo.GetWindowText(), "");
    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
}

TEST_F(DialogsTest, TableInsertsRowsWhereAskedAndSelectsOnlyWhenTold) {
    QTreeWidget tree;
    tree.setColumnCount(2);
    CListCtrl table;
    table.Attach(&tree);
    EXPECT_EQ(table.InsertItem(-1, "b"), 0);
    EXPECT_EQ(table.InsertItem(0, "a"), 0);
    EXPECT_EQ(table.InsertItem(7, "c"), 2) << "past the end: at the end";
    EXPECT_TRUE(table.SetItemText(1, 1, "b2"));
    EXPECT_FALSE(table.SetItemText(1, 2, "x")) << "no third column";
    EXPECT_FALSE(table.SetItemText(3, 0, "x")) << "no fourth row";
    EXPECT_EQ(table.GetItemText(0, 0) + table.GetItemText(1, 0) + table.GetItemText(1, 1) +
                  table.GetItemText(2, 0),
              "abb2c");
    EXPECT_EQ(table.GetSelectedItem(), -1) << "adding rows selects nothing";
    table.SelectItem(2);
    EXPECT_EQ(table.GetSelectedItem(), 2);
    table.SelectItem(3);
    EXPECT_EQ(table.GetSelectedItem(), -1);
    table.DeleteAllItems();
    EXPECT_EQ(table.GetItemCount(), 0);
}

// ---- About box ----

TEST_F(DialogsTest, AboutBoxNamesTheProgramAndClosesWithOkEnterOrEscape) {
    std::vector<int> keys = {0, Qt::Key_Return, Qt::Key_Escape};
    std::vector<int> expected = {IDOK, IDOK, IDCANCEL};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        std::vector<std::string> labels;
        ModalScript script([&](CDialogEx& dialog) {
            for (QLabel* label : dialog.GetWidget()->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) {
                    labels.push_back(label->text().toStdString());
                }
            }
            if (i == 0) {
                SaveScreenshot(dialog.GetWidget(), "about");
                Click(dialog, IDOK);
            } else {
                PressKey(dialog, keys[i]);
            }
        });
        CAboutDlg about;
        EXPECT_EQ(about.DoModal(), expected[i]);
        EXPECT_EQ(script.Runs(), 1);
        ASSERT_EQ(labels.size(), 2u);
        EXPECT_EQ(labels[0], "Lumidor, versione 1.0");
    }
}

// ---- PIN dialog ----

TEST_F(DialogsTest, PinDialogReturnsWhatWasTypedAndOpensEmptyEachTime) {
    std::vector<std::string> fieldOnOpen;
    int run = 0;
    ModalScript script([&](CDialogEx& dialog) {
        fieldOnOpen.push_back(Text(dialog, IDC_PIN));
        if (run++ == 0) {
            TypeText(dialog, IDC_PIN, " 12a4");
            SaveScreenshot(dialog.GetWidget(), "pin");
            Click(dialog, IDOK);
        } else {
            Click(dialog, IDCANCEL);
        }
    });
    CStartTest dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_pin, " 12a4") << "typed as is, leading blank included";
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_pin, "") << "the earlier PIN is gone";
    EXPECT_EQ(fieldOnOpen, (std::vector<std::string>{"", ""}));
    auto* field = qobject_cast<QLineEdit*>(CStartTest().GetDlgItem(IDC_PIN));
    EXPECT_EQ(field, nullptr) << "no control before the dialog is built";
}

TEST_F(DialogsTest, PinDialogEndsWithEnterEscapeAndTheCloseBox) {
    struct Case {
        const char* name;
        std::function<void(CDialogEx&)> end;
        int result;
    };
    const std::vector<Case> cases = {
        {"Enter in the field",
         [](CDialogEx& d) {
             TypeText(d, IDC_PIN, "99");
             PressKey(d, Qt::Key_Return);
         },
         IDOK},
        {"Escape",
         [](CDialogEx& d) {
             TypeText(d, IDC_PIN, "99");
             PressKey(d, Qt::Key_Escape);
         },
         IDCANCEL},
        {"close box", [](CDialogEx& d) { d.GetWidget()->close(); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        std::string fieldAfterEnd = "(not read)";
        ModalScript script([&](CDialogEx& dialog) {
            c.end(dialog);
            fieldAfterEnd = Text(dialog, IDC_PIN);
        });
        CStartTest dialog;
        EXPECT_EQ(dialog.DoModal(), c.result) << c.name;
        EXPECT_EQ(fieldAfterEnd, "") << c.name << ": the field is emptied whichever way it ends";
        EXPECT_EQ(dialog.m_pin, c.result == IDOK ? "99" : "") << c.name;
    }
}

TEST_F(DialogsTest, ThePinLeavesTheDialogOnce) {
    ModalScript script([](CDialogEx& dialog) {
        TypeText(dialog, IDC_PIN, "1234");
        Click(dialog, IDOK);
    });
    CStartTest dialog;
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.TakePin(), "1234");
    EXPECT_EQ(dialog.m_pin, "");
}

TEST_F(DialogsTest, PinFieldIsMaskedAndTakesAtMost64Characters) {
    bool masked = false;
    ModalScript script([&](CDialogEx& dialog) {
        masked =
            qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_PIN))->echoMode() == QLineEdit::Password;
        TypeText(dialog, IDC_PIN, std::string(70, '7'));
        Click(dialog, IDOK);
    });
    CStartTest dialog;
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(masked);
    EXPECT_EQ(dialog.m_pin, std::string(64, '7'));
}

TEST_F(DialogsTest, PinDialogWarnsWhenTheUserPinIsNearOrAtItsLock) {
    const std::vector<std::pair<CK_FLAGS, std::string>> cases = {
        {0, ""},
        {CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED, ""},
        // The words of the signing test's own warnings in the message list.
        {CKF_USER_PIN_COUNT_LOW,
         "Attenzione: il PIN e' gia' stato digitato in modo errato, restano pochi tentativi"},
        {CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY,
         "Attenzione: resta un solo tentativo per il PIN, poi la carta si blocca"},
        {CKF_USER_PIN_LOCKED | CKF_USER_PIN_FINAL_TRY,
         "Attenzione: il PIN e' bloccato, il test non potra' accedere alla carta"},
        {CKF_SO_PIN_LOCKED | CKF_SO_PIN_FINAL_TRY, ""},
    };
    for (const auto& [flags, expected] : cases) {
        std::string shown;
        ModalScript script([&](CDialogEx& dialog) {
            shown = Text(dialog, IDC_PIN_WARNING);
            if (flags == (CKF_USER_PIN_LOCKED | CKF_USER_PIN_FINAL_TRY)) {
                SaveScreenshot(dialog.GetWidget(), "pin-locked");
            }
            Click(dialog, IDCANCEL);
        });
        CStartTest dialog;
        dialog.m_tokenFlags = flags;
        dialog.DoModal();
        EXPECT_EQ(shown, expected) << flags;
    }
}

// ---- Token information ----

TEST(FormatSizeTest, ShowsCountersAndMemoryAsTheWindowDoes) {
    const std::vector<std::tuple<CK_ULONG, bool, std::string>> cases = {
        {0, true, "0 Bytes"},
        {1024, true, "1024 Bytes"},
        {1025, true, "1.00 KB"},
        {65536, true, "64.00 KB"},
        {1048576, true, "1024.00 KB"},
        {1048577, true, "1.00 MB"},
        {2147483647, true, "2.00 GB"},
        {kUnavailable, true, "N/A"},
        {kUnavailable, false, "N/A"},
        {CK_ULONG(1) << 63, true, "N/A"},
        // Above 32 bits a value is real here and shown in full, never wrapped.
        {0xFFFFFFFFul, true, "4.00 GB"},
        {0xFFFFFFFFul, false, "4294967295"},
        {CK_ULONG(5) << 40, true, "5.00 TB"},
        {(CK_ULONG(1) << 63) - 1, true, "8.00 EB"},
        {0, false, "0"},
        {2147483647, false, "2147483647"},
    };
    for (const auto& [value, unit, expected] : cases) {
        EXPECT_EQ(FormatSize(value, unit), expected) << value << (unit ? " with unit" : "");
    }
}

TEST(FormatSizeTest, PinLengthText) {
    const std::vector<std::tuple<CK_ULONG, CK_ULONG, std::string>> cases = {
        {4, 8, " Min.= 4, Max.= 8"},
        {5, 5, " 5"},
        {4, kUnavailable, " 4"},
        {kUnavailable, 8, " Min.= -1, Max.= 8"},
        {0, 0, " 0"},
        {8, 4, " 8"},
        {4, 0x100000000ul, " Min.= 4, Max.= 4294967296"},
    };
    for (const auto& [minimum, maximum, expected] : cases) {
        EXPECT_EQ(PinLengthText(minimum, maximum), expected) << minimum << ", " << maximum;
    }
}

std::vector<std::string> TokenFields(CTokenInfo& info) {
    std::vector<std::string> texts;
    for (int id : {IDC_TOKEN_LABEL, IDC_TOKEN_MANUFACTURER, IDC_TOKEN_MODEL, IDC_TOKEN_SERIAL,
                   IDC_TOKEN_PIN_LENGTH, IDC_TOKEN_MAX_SESSIONS, IDC_TOKEN_MAX_RW_SESSIONS,
                   IDC_TOKEN_TOTAL_PUBLIC, IDC_TOKEN_FREE_PUBLIC, IDC_TOKEN_TOTAL_PRIVATE,
                   IDC_TOKEN_FREE_PRIVATE}) {
        texts.push_back(Text(info, id));
    }
    return texts;
}

TEST_F(DialogsTest, TokenInformationShowsEveryFieldFormatted) {
    TokenDetails details;
    details.label = "Firma 100%";
    details.manufacturerId = "SoftHSM project";
    details.model = "SoftHSM v2";
    details.serialNumber = "8d3f0a2b1c";
    details.minPinLen = 4;
    details.maxPinLen = 255;
    details.maxSessionCount = 0;  // effectively infinite
    details.maxRwSessionCount = kUnavailable;
    details.totalPublicMemory = 65536;
    details.freePublicMemory = 1048577;
    details.totalPrivateMemory = 1024;
    details.freePrivateMemory = kUnavailable;

    std::vector<std::string> shown;
    ModalScript script([&](CDialogEx& dialog) {
        auto& info = static_cast<CTokenInfo&>(dialog);
        shown = TokenFields(info);
        SaveScreenshot(dialog.GetWidget(), "token-info");
        Click(dialog, IDOK);
    });
    CTokenInfo info;
    info.m_details = details;
    EXPECT_EQ(info.DoModal(), IDOK);
    EXPECT_EQ(shown, (std::vector<std::string>{" Firma 100%", " SoftHSM project", " SoftHSM v2",
                                               " 8d3f0a2b1c", " Min.= 4, Max.= 255", " 0", " N/A",
                                               " 64.00 KB", " 1.00 MB", " 1024 Bytes", " N/A"}));
}

TEST_F(DialogsTest, TokenInformationNeverReadShowsBlanksAndZeros) {
    std::vector<std::string> shown;
    ModalScript script([&](CDialogEx& dialog) {
        shown = TokenFields(static_cast<CTokenInfo&>(dialog));
        PressKey(dialog, Qt::Key_Escape);
    });
    CTokenInfo info;
    EXPECT_EQ(info.DoModal(), IDCANCEL);
    EXPECT_EQ(shown, (std::vector<std::string>{" ", " ", " ", " ", " 0", " 0", " 0", " 0 Bytes",
                                               " 0 Bytes", " 0 Bytes", " 0 Bytes"}));
}

// ---- Certificates ----

// Noon UTC, so that the local date is the same wherever the test runs.
constexpr std::time_t k10Jan2023 = 1673352000;
constexpr std::time_t k15Mar2024 = 1710504000;
constexpr std::time_t k20May2026 = 1779278400;
constexpr std::time_t k1Feb2036 = 2085480000;
constexpr std::time_t k31Dec2050 = 2556100800;

TokenCertificate Certificate(const std::string& label, const std::string& id, bool privateKey,
                             CertificateState state, const std::string& holder, std::time_t from,
                             std::time_t until) {
    TokenCertificate certificate;
    certificate.label = label;
    certificate.id = id;
    certificate.hasPrivateKey = privateKey;
    certificate.content.state = state;
    if (state != CertificateState::Unreadable) {
        certificate.content.subjectCommonName = holder;
        certificate.content.issuerCommonName = "CA di prova";
        certificate.content.validFrom = from;
        certificate.content.validUntil = until;
        certificate.content.serialNumber = "0A1B2C";
        certificate.content.sha256Fingerprint =
            "5E:88:48:98:DA:28:04:71:51:D0:E5:6F:8D:C6:29:27:"
            "73:60:3D:0D:6A:AB:BD:D6:2A:11:EF:72:1D:15:42:D8";
    } else {
        certificate.content.problem = "not DER";
    }
    return certificate;
}

std::vector<TokenCertificate> TokenWithFourCertificates() {
    TokenCertificate signing = Certificate("Firma", "01", true, CertificateState::Valid,
                                           "Mario Rossi", k15Mar2024, k1Feb2036);
    signing.content.subjectOrganization = "Comune di Prova";
    signing.content.keyUsage = "firma digitale, non ripudio";
    return {signing,
            Certificate("Firma 2020", "02", true, CertificateState::Expired, "Mario Rossi",
                        k10Jan2023, k15Mar2024),
            Certificate("Futuro", "03", false, CertificateState::NotYetValid, "Anna Bianchi",
                        k20May2026 + 365 * 86400, k31Dec2050),
            Certificate("Autenticazione", "04", true, CertificateState::Unreadable, "", 0, 0)};
}

const char* const kSigningDetails =
    "Etichetta: Firma\n"
    "ID: 01\n"
    "Titolare: Mario Rossi\n"
    "Organizzazione: Comune di Prova\n"
    "Emittente: CA di prova\n"
    "Valido dal: 15/03/2024\n"
    "Valido fino al: 01/02/2036\n"
    "Utilizzo chiave: firma digitale, non ripudio\n"
    "Chiave privata sul token: sì\n"
    "Stato: valido\n"
    "Numero di serie: 0A1B2C\n"
    "Impronta SHA-256: 5E:88:48:98:DA:28:04:71:51:D0:E5:6F:8D:C6:29:27:"
    "73:60:3D:0D:6A:AB:BD:D6:2A:11:EF:72:1D:15:42:D8";

struct ShownCertificates {
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> marked;
    int selected = -1;
    std::string details;
};

ShownCertificates ReadCertificatesDialog(CCertificates& dialog) {
    ShownCertificates shown;
    auto* tree = qobject_cast<QTreeWidget*>(dialog.GetDlgItem(IDC_CERTIFICATE_LIST));
    for (int item = 0; item < dialog.m_list.GetItemCount(); ++item) {
        std::vector<std::string> row;
        for (int column = 0; column < 4; ++column) {
            row.push_back(dialog.m_list.GetItemText(item, column));
        }
        shown.rows.push_back(row);
        QTreeWidgetItem* widgetItem = tree->topLevelItem(item);
        bool warningSign = !widgetItem->icon(3).isNull();  // before the state
        bool coloured = widgetItem->foreground(0).style() != Qt::NoBrush;
        EXPECT_EQ(warningSign, coloured) << "row " << item << ": sign and colour go together";
        shown.marked.push_back(warningSign);
    }
    shown.selected = dialog.m_list.GetSelectedItem();
    shown.details = Text(dialog, IDC_CERTIFICATE_DETAILS);
    return shown;
}

void ClickRow(CDialogEx& dialog, int row) {
    auto* tree = qobject_cast<QTreeWidget*>(dialog.GetDlgItem(IDC_CERTIFICATE_LIST));
    QRect place = tree->visualItemRect(tree->topLevelItem(row));
    ASSERT_TRUE(place.isValid()) << "row " << row << " is not in view";
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, place.center());
}

TEST_F(DialogsTest, CertificatesListsEveryCertificateMarksTheFaultyOnesAndDetailsTheSelected) {
    std::vector<ShownCertificates> shown;
    ModalScript script([&](CDialogEx& dialog) {
        auto& certificates = static_cast<CCertificates&>(dialog);
        shown.push_back(ReadCertificatesDialog(certificates));
        SaveScreenshot(dialog.GetWidget(), "certificates-dialog");
        for (int row : {2, 3}) {
            ClickRow(dialog, row);
            shown.push_back(ReadCertificatesDialog(certificates));
        }
        Click(dialog, IDOK);
    });
    CCertificates dialog;
    dialog.m_certificates = TokenWithFourCertificates();
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ASSERT_EQ(shown.size(), 3u);

    const std::vector<std::vector<std::string>> rows = {
        {"Mario Rossi", "CA di prova", "01/02/2036", "valido"},
        {"Mario Rossi", "CA di prova", "15/03/2024", "scaduto"},
        {"Anna Bianchi", "CA di prova", "31/12/2050", "non ancora valido"},
        {"Autenticazione", "-", "-", "non leggibile"},
    };
    EXPECT_EQ(shown[0].rows, rows);
    EXPECT_EQ(shown[0].marked, (std::vector<bool>{false, true, true, true}));
    EXPECT_EQ(shown[0].selected, 0);
    EXPECT_EQ(shown[0].details, kSigningDetails);

    EXPECT_EQ(shown[1].selected, 2);
    EXPECT_EQ(shown[1].details,
              "Etichetta: Futuro\nID: 03\nTitolare: Anna Bianchi\nOrganizzazione: -\n"
              "Emittente: CA di prova\nValido dal: 20/05/2027\nValido fino al: 31/12/2050\n"
              "Utilizzo chiave: -\nChiave privata sul token: no\nStato: non ancora valido\n"
              "Numero di serie: 0A1B2C\nImpronta SHA-256: 5E:88:48:98:DA:28:04:71:51:D0:E5:6F:"
              "8D:C6:29:27:73:60:3D:0D:6A:AB:BD:D6:2A:11:EF:72:1D:15:42:D8");
    EXPECT_EQ(shown[2].selected, 3);
    EXPECT_EQ(shown[2].details,
              "Etichetta: Autenticazione\nID: 04\nChiave privata sul token: sì\n"
              "Stato: non leggibile");
    EXPECT_EQ(shown[2].rows, rows) << "choosing a row changes no row";
}

TEST_F(DialogsTest, CertificatesOfATokenWithoutAnySaySo) {
    ShownCertificates shown;
    bool detailsReadOnly = false;
    ModalScript script([&](CDialogEx& dialog) {
        shown = ReadCertificatesDialog(static_cast<CCertificates&>(dialog));
        detailsReadOnly =
            qobject_cast<QPlainTextEdit*>(dialog.GetDlgItem(IDC_CERTIFICATE_DETAILS))->isReadOnly();
        SaveScreenshot(dialog.GetWidget(), "certificates-dialog-empty");
        PressKey(dialog, Qt::Key_Escape);
    });
    CCertificates dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(shown.rows.empty());
    EXPECT_EQ(shown.selected, -1);
    EXPECT_EQ(shown.details, "Nessun certificato sul token");
    EXPECT_TRUE(detailsReadOnly);
}

TEST(CertificateRowTest, AHolderWithoutCommonNameIsNamedByLabelThenIdThenADash) {
    TokenCertificate readable =
        Certificate("Etichetta", "0A", true, CertificateState::Valid, "", k15Mar2024, k1Feb2036);
    readable.content.issuerCommonName.clear();
    const std::vector<std::pair<TokenCertificate, std::array<std::string, 4>>> cases = {
        {readable, {"Etichetta", "-", "01/02/2036", "valido"}},
        {Certificate("", "0B", false, CertificateState::Unreadable, "", 0, 0),
         {"0B", "-", "-", "non leggibile"}},
        {Certificate("", "", false, CertificateState::Unreadable, "", 0, 0),
         {"-", "-", "-", "non leggibile"}},
    };
    for (const auto& [certificate, row] : cases) {
        EXPECT_EQ(CertificateRow(certificate), row) << row[0];
    }
}

}  // namespace
