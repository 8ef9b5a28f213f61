#pragma once

#include "app.h"

class Cupdater_OrvantisApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
