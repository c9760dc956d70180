#include "UiTest.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "ui/LumidorResources.h"

namespace {

QApplication* g_application = nullptr;

// The program's resources are registered before any test, as the program's main does. The
// application goes before the program's own static objects do: Qt's globals must still be
// there when it is destroyed.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { RegisterLumidorResources(); }
    void TearDown() override {
        delete g_application;
        g_application = nullptr;
    }
};

[[maybe_unused]] const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "lumidor-ui-test";
    static char* argv[] = {name, nullptr};
    if (g_application == nullptr) {
        g_application = new QApplication(argc, argv);
    }
    return *g_application;
}

void SaveScreenshot(QWidget* widget, const std::string& name) {
    QDir().mkpath(QStringLiteral(LUMIDOR_SCREENSHOT_DIR));
    QString path =
        QStringLiteral(LUMIDOR_SCREENSHOT_DIR "/%1.png").arg(QString::fromStdString(name));
    if (!widget->grab().save(path)) {
        throw std::runtime_error("cannot save " + path.toStdString());
    }
}

ModalScript::ModalScript(std::function<void(CDialogEx&)> script)
    : m_runs(std::make_shared<int>(0)) {
    std::shared_ptr<int> runs = m_runs;
    CDialogEx::SetModalObserver([runs, script](CDialogEx& dialog) {
        ++*runs;
        script(dialog);
    });
}

ModalScript::~ModalScript() {
    CDialogEx::SetModalObserver(nullptr);
}

namespace {
QWidget* Control(CDialogEx& dialog, int id) {
    QWidget* widget = dialog.GetDlgItem(id);
    if (widget == nullptr) {
        throw std::runtime_error("no control " + std::to_string(id));
    }
    return widget;
}
}  // namespace

void Click(CDialogEx& dialog, int id) {
    QWidget* button = Control(dialog, id);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

void TypeText(CDialogEx& dialog, int id, const std::string& text) {
    QWidget* widget = Control(dialog, id);
    widget->setFocus();
    QTest::keyClicks(widget, QString::fromStdString(text));
}

void PressKey(CDialogEx& dialog, int key) {
    QWidget* target = dialog.GetWidget()->focusWidget();
    QTest::keyClick(target ? target : static_cast<QWidget*>(dialog.GetWidget()),
                    static_cast<Qt::Key>(key));
}

void ChooseItem(CDialogEx& dialog, int id, int index) {
    // Through the dropped-down list, as a user picks an item with the mouse.
    auto* combo = qobject_cast<QComboBox*>(Control(dialog, id));
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QRect item = view->visualRect(combo->model()->index(index, 0));
    if (!item.isValid()) {
        throw std::runtime_error("no item " + std::to_string(index));
    }
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
}

std::string Text(CDialogEx& dialog, int id) {
    Control(dialog, id);
    return dialog.GetDlgItemText(id);
}

std::vector<std::string> Items(const CListBox& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.GetCount(); ++i) {
        items.push_back(list.GetText(i));
    }
    return items;
}

std::vector<std::string> Items(const CComboBox& combo) {
    std::vector<std::string> items;
    for (int i = 0; i < combo.GetCount(); ++i) {
        items.push_back(combo.GetLBText(i));
    }
    return items;
}
