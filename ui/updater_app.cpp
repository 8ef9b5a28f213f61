#include "updater_app.h"

#include <commctrl.h>

#include "updater_dlg.h"

Cupdater_OrvantisApp theApp;

BOOL Cupdater_OrvantisApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    Cupdater_OrvantisDlg dialog;
    dialog.DoModal();
    // As a dialog-based application says that the program is done: nothing
    // runs after the dialog.
    return FALSE;
}
