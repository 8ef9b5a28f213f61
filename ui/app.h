// The application object: the program's entry runs its InitInstance once, and
// the process ends when it returns; there is no message loop.
#pragma once

#include <windows.h>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Its result is not examined: the process ends either way.
    virtual BOOL InitInstance() = 0;

    // The one application object of the process.
    static CWinApp* Current();
};
