#include "ui/framework/WinApp.h"

#include <QApplication>
#include <cstdio>
#include <exception>

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

CWinApp* AfxGetApp() {
    return g_app;
}

bool CWinApp::InitInstance() {
    return false;
}

int CWinApp::Run(int argc, char** argv) {
    QApplication application(argc, argv);
    try {
        if (InitInstance()) {
            return QApplication::exec();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Lumidor: %s\n", error.what());
        return 1;
    }
    return 0;
}
