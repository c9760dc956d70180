#include "ui/LumidorApp.h"

#include "ui/LumidorDlg.h"

CLumidorApp theApp;

bool CLumidorApp::InitInstance() {
    CWinApp::InitInstance();
    // A catalogue that cannot be loaded throws out of the window's construction: the
    // program then ends before any window is shown (Run reports the message).
    CLumidorDlg dialog;
    dialog.DoModal();
    return false;
}
