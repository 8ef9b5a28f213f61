// The updater's one window: the latest and current versions, the news and
// the Update, launch and Quit buttons.
#pragma once

#include <string>

#include "dialog.h"
#include "download_wait.h"
#include "update_source.h"
#include "version_info.h"

// While the package downloads the window stays alive: the download's waits
// handle its messages (CDownloadWait). No button, key or menu acts then, or
// later from input queued meanwhile; the close box and Alt+F4 end the
// download and close the window.
class Cupdater_OrvantisDlg : public CDialog {
public:
    Cupdater_OrvantisDlg();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void AddAboutItemToSystemMenu();
    bool OnSysCommand(UINT id);
    bool OnPaint();
    void OnUpdate();
    bool Download(CDownloadWait& wait);
    void StartGame(const char* mode);
    void ShowProgress();
    void EnableUpdateButton();
    void EnableButtons(bool enable);
    // What arrives while the download runs.
    bool OnMessageDuringDownload(UINT message, WPARAM wParam);

    CVersionInfo m_versionInfo;
    CUpdateSource m_updateSource;
    int m_nLatest = 0;
    int m_nCurrent = 0;
    HICON m_hIcon;
    std::string m_strLatest;
    std::string m_strCurrent;
    std::string m_strNews;

    CDownloadWait* m_download = nullptr; // while the package downloads
};
