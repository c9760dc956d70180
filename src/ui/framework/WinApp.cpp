#include "ui/framework/WinApp.h"

#include <QApplication>
#include <cstdio>
#include <exception>

bool CWinApp::InitInstance() {
    return false;
}

int CWinApp::Run(int argc, char** argv) {
    // The program reads no command line: Qt sees the program's name only, so that no
    // argument changes what it does (its settings come from the environment, as usual).
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication application(qtArgc, qtArgv);
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
