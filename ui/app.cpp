#include "app.h"

namespace {

CWinApp* g_app = nullptr;

} // namespace

CWinApp::CWinApp()
{
    g_app = this;
}

CWinApp* CWinApp::Current()
{
    return g_app;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The command line is not examined: the updater takes no options.
    CWinApp* app = CWinApp::Current();
    if (app)
        app->InitInstance();
    return 0;
}
