// What a dialog does while its download waits for the server: it handles its
// messages, so that the window repaints and answers, and its news box shows
// how far the download has come, a few times a second at most.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "wait_hook.h"

// The news box's text during the download: "ダウンロードしています", and once
// bytes have arrived a second line with how far it has come.
inline constexpr char kDownloading[] = "ダウンロードしています";
std::string DownloadingNews(uint64_t received, std::optional<uint64_t> total);

class CDownloadWait : public CWaitHook {
public:
    explicit CDownloadWait(HWND dialog);

    // Handles what is queued, the dialog's keyboard interface included;
    // false once Stop was called, or the thread was told to quit.
    bool HandleMessages() override;
    // The download then ends at its next wait or read.
    void Stop() { m_stopRequested = true; }
    bool StopRequested() const { return m_stopRequested; }
    // True when a new progress line is due: the last is a quarter of a
    // second old. Showing one at every read would cost more than the read.
    bool ProgressDue();

private:
    HWND m_dialog;
    bool m_stopRequested = false;
    ULONGLONG m_lastProgress;
};
