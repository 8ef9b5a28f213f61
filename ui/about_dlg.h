#pragma once

#include "dialog.h"

// The About box, opened from the main dialog's system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg(HWND parent);
};
