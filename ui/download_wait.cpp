#include "download_wait.h"

#include "download_progress.h"

namespace {

constexpr ULONGLONG kProgressEveryMs = 250;
// Messages handled in one go: a flood of them still lets the download on.
constexpr int kMessagesAtOnce = 64;

} // namespace

std::string DownloadingNews(uint64_t received, std::optional<uint64_t> total)
{
    return std::string(kDownloading) + "\r\n" + FormatDownloadProgress(received, total);
}

CDownloadWait::CDownloadWait(HWND dialog) : m_dialog(dialog), m_lastProgress(GetTickCount64()) {}

bool CDownloadWait::HandleMessages()
{
    MSG message;
    for (int handled = 0; handled < kMessagesAtOnce && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
        if (message.message == WM_QUIT) {
            // Left for the modal loop, which ends on it.
            PostQuitMessage(static_cast<int>(message.wParam));
            m_stopRequested = true;
            break;
        }
        if (!IsDialogMessageW(m_dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return !m_stopRequested;
}

bool CDownloadWait::ProgressDue()
{
    const ULONGLONG now = GetTickCount64();
    if (now - m_lastProgress < kProgressEveryMs)
        return false;
    m_lastProgress = now;
    return true;
}
