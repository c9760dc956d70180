#pragma once

#include "ui/framework/WinApp.h"

// Lumidor's application object: runs the main window modally, then ends the program.
class CLumidorApp : public CWinApp {
public:
    bool InitInstance() override;
};

extern CLumidorApp theApp;
