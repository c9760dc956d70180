#pragma once

// The application object: one static instance per program. Run creates the Qt application
// and calls InitInstance, which does the program's work (a dialog program runs its main
// dialog modally there and returns false, so that no further message loop runs).
class CWinApp {
public:
    CWinApp() = default;
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance();

    // The program's exit status: 0 after a normal end; 1 when InitInstance failed with an
    // exception, whose message then goes to standard error.
    int Run(int argc, char** argv);
};
