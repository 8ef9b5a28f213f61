#include "updater_dlg.h"

#include <shellapi.h>

#include "about_dlg.h"
#include "resource.h"
#include "text.h"
#include "version.h"

namespace {

constexpr char kDownloadFailed[] = "ダウンロードに失敗しました";
constexpr char kExtracting[] = "解凍します";
constexpr char kExtractPrompt[] =
    "圧縮ファイルを展開します。\r\nソフトをインストールしたフォルダ（harun_tesli.exeがあるフォルダ）に"
    "全てのファイルを上書きしてください。";
constexpr char kUpdateFinished[] = "アップデートが終了しました";
// Long enough for the window to show a new state before a blocking step.
constexpr DWORD kProgressPauseMs = 100;
constexpr int kButtons[] = {IDC_UPDATE, IDC_FULLSCREEN, IDC_WINDOW, IDC_QUIT};

// Input still queued when the download ends: a click or key made during it
// is not acted on after it, by the window or the message box that follows.
void DropQueuedInput()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
}

// The full path of a file in the working folder.
std::wstring WorkingFolderPath(const std::string& name)
{
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring path(size, L'\0');
    DWORD length = GetCurrentDirectoryW(size, path.data());
    path.resize(length < size ? length : 0);
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + WideFromCp932(name);
}

// Starts the program of that name in the working folder through the shell,
// by its full path: a bare name would be searched for, and the updater's own
// folder comes first. Whether it started is not examined.
void StartProgram(const std::string& file, const char* parameters)
{
    std::wstring wideParameters = parameters ? WideFromCp932(parameters) : std::wstring();
    ShellExecuteW(nullptr, L"open", WorkingFolderPath(file).c_str(), parameters ? wideParameters.c_str() : nullptr,
                  nullptr, SW_SHOWNORMAL);
}

} // namespace

Cupdater_OrvantisDlg::Cupdater_OrvantisDlg()
    : CDialog(IDD_UPDATER_DIALOG),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)))
{
}

void Cupdater_OrvantisDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Text(IDC_LATEST, m_strLatest);
    dx.Text(IDC_CURRENT, m_strCurrent);
    dx.Text(IDC_NEWS, m_strNews);
}

BOOL Cupdater_OrvantisDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    AddAboutItemToSystemMenu();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // The two fetches share one time, so that the window shows whatever the
    // server sends.
    const CTransfer::Clock::time_point fetchesEnd = CTransfer::Clock::now() + kStartupFetchTime;
    m_versionInfo.FetchLatest(m_updateSource.m_strBaseUrl + m_updateSource.m_strVersionFile, fetchesEnd);
    m_versionInfo.ReadCurrent();
    m_nCurrent = m_versionInfo.m_nLocal;
    m_nLatest = m_versionInfo.m_nRemote;
    m_strLatest = FormatLatestLine(m_nLatest);
    m_strCurrent = FormatCurrentLine(m_nCurrent);
    m_strNews = FetchNews(m_updateSource, fetchesEnd).news.value_or(kNoNews);
    EnableUpdateButton();

    return CDialog::OnInitDialog();
}

bool Cupdater_OrvantisDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    if (m_download && OnMessageDuringDownload(message, wParam)) {
        result = 0;
        return true;
    }
    switch (message) {
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam));
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(m_hIcon);
        return true;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return false;
        switch (LOWORD(wParam)) {
        case IDC_UPDATE:
            OnUpdate();
            return true;
        case IDC_QUIT:
            EndDialog(0);
            return true;
        case IDC_WINDOW:
            StartGame("window");
            return true;
        case IDC_FULLSCREEN:
            StartGame("fullscreen");
            return true;
        }
        return false;
    }
    return false;
}

void Cupdater_OrvantisDlg::AddAboutItemToSystemMenu()
{
    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    if (!systemMenu)
        return;
    const wchar_t* text = nullptr;
    // The string resource is UTF-16 already; a length of 0 asks for a pointer to it.
    int length = LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0)
        return;
    std::wstring item(text, static_cast<size_t>(length));
    AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, item.c_str());
}

bool Cupdater_OrvantisDlg::OnSysCommand(UINT id)
{
    if ((id & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    CAboutDlg about(m_hWnd);
    about.DoModal();
    return true;
}

// The dialog has no minimise box, so only another program minimises it. Such
// a window still draws its icon, as windows did when minimised ones were
// icons on the desktop: cheap, and never a blank square.
bool Cupdater_OrvantisDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return true;
}

// Nothing that arrives during the download starts the game, a second
// download or the About box, or ends the dialog midway: no command acts (the
// buttons are disabled; Enter and Esc send OK and Cancel), and WM_CLOSE,
// which Esc in the news box posts too, does nothing. The close box and
// Alt+F4, the system's close command, stop the download; the dialog then
// closes.
bool Cupdater_OrvantisDlg::OnMessageDuringDownload(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_COMMAND:
    case WM_CLOSE:
        return true;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            m_download->Stop();
            return true;
        }
        return (wParam & 0xFFF0) == IDM_ABOUTBOX;
    }
    return false;
}

void Cupdater_OrvantisDlg::OnUpdate()
{
    if (IsUpdateAvailable(m_nCurrent, m_nLatest)) {
        CDownloadWait wait(m_hWnd);
        if (Download(wait)) {
            m_strNews = kExtracting;
            ShowProgress();
            MessageBoxOk(kExtractPrompt);
            StartProgram(kUpdatePackage, nullptr);
            EndDialog(0);
            m_strNews = kUpdateFinished;
            UpdateData(false);
            return;
        }
        if (wait.StopRequested()) {
            // Stopped: the old package stays, and nothing is started.
            EndDialog(IDCANCEL);
            return;
        }
        // Nothing is started: the player may try again or play on.
        m_strNews = kDownloadFailed;
        UpdateData(false);
        EnableButtons(true);
        return;
    }
    UpdateData(false);
    EnableUpdateButton();
}

// Fetches the package while wait keeps the window alive and shows how far it
// has come; true once the package is in place and the player did not close
// the window. The buttons stay disabled: after a download that failed the
// caller enables them again.
bool Cupdater_OrvantisDlg::Download(CDownloadWait& wait)
{
    CDownloadJob job(kUpdatePackage, m_updateSource.m_strBaseUrl);
    job.m_waitHook = &wait;
    job.m_onProgress = [this, &wait](std::string_view, uint64_t received, std::optional<uint64_t> total) {
        if (!wait.ProgressDue())
            return;
        m_strNews = DownloadingNews(received, total);
        CDataExchange news(m_hWnd, false);
        news.Text(IDC_NEWS, m_strNews);
    };
    m_strNews = kDownloading;
    EnableButtons(false);
    ShowProgress();
    m_download = &wait;
    const bool installed = job.Run().outcome == DownloadOutcome::Installed;
    DropQueuedInput();
    m_download = nullptr;
    return installed && !wait.StopRequested();
}

void Cupdater_OrvantisDlg::StartGame(const char* mode)
{
    StartProgram(m_versionInfo.m_strExeName, mode);
    EndDialog(0);
}

void Cupdater_OrvantisDlg::ShowProgress()
{
    UpdateData(false);
    UpdateWindow(m_hWnd);
    InvalidateRect(m_hWnd, nullptr, FALSE);
    Sleep(kProgressPauseMs);
}

void Cupdater_OrvantisDlg::EnableUpdateButton()
{
    EnableWindow(GetDlgItem(m_hWnd, IDC_UPDATE), IsUpdateAvailable(m_nCurrent, m_nLatest));
}

void Cupdater_OrvantisDlg::EnableButtons(bool enable)
{
    for (int id : kButtons)
        EnableWindow(GetDlgItem(m_hWnd, id), enable);
    if (!enable)
        return;
    EnableUpdateButton();
    // The Update button had the focus, and lost it when it was disabled.
    HWND focus = GetDlgItem(m_hWnd, IsUpdateAvailable(m_nCurrent, m_nLatest) ? IDC_UPDATE : IDC_QUIT);
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
}
