#pragma once

#include "ui/framework/Dialog.h"

// The about box: the program's icon, name and version.
class CAboutDlg : public CDialogEx {
public:
    CAboutDlg();

    DECLARE_MESSAGE_MAP()
};
