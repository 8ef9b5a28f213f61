// The application object: the program's entry runs its InitInstance once, and
// the process ends when it returns.
#pragma once

#include <windows.h>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returns false to end the process instead of running a message loop.
    virtual BOOL InitInstance() = 0;

    // The one application object of the process.
    static CWinApp* Current();
};
