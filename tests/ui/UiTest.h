#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/LumidorDlg.h"
#include "ui/framework/Controls.h"
#include "ui/framework/Dialog.h"

// The one Qt application of a test program (offscreen platform, set by CTest).
QApplication& TestApplication();

// Saves what `widget` shows as <build>/screenshots/<name>.png.
void SaveScreenshot(QWidget* widget, const std::string& name);

// Drives every modal dialog that opens while it lives: `script` is called once the dialog's
// loop runs and must end it (click a button, press a key).
class ModalScript {
public:
    explicit ModalScript(std::function<void(CDialogEx&)> script);
    ~ModalScript();
    int Runs() const { return *m_runs; }

private:
    std::shared_ptr<int> m_runs;
};

// Real input through Qt's event path, by control id.
void Click(CDialogEx& dialog, int id);
void TypeText(CDialogEx& dialog, int id, const std::string& text);
void PressKey(CDialogEx& dialog, int key);
// Picks item `index` of combo box `id` from its dropped-down list.
void ChooseItem(CDialogEx& dialog, int id, int index);
std::string Text(CDialogEx& dialog, int id);

// Every item of a list box or combo box, in order.
std::vector<std::string> Items(const CListBox& list);
std::vector<std::string> Items(const CComboBox& combo);

// The main window, opened with a catalogue of the test's own and closed before the rest of
// the fixture goes (its reader watcher may still use a scripted PC/SC service).
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    void TearDown() override { window.reset(); }

    void Open(const std::string& catalogue) {
        window = std::make_unique<CLumidorDlg>();
        window->m_manager.InitCardList(catalogue.size(), catalogue.data());
        ASSERT_TRUE(window->Create());
    }

    std::unique_ptr<CLumidorDlg> window;
};
