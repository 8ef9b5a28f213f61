#include "startup_fetch.h"

#include <algorithm>

StartupBody FetchStartupFile(const std::string& url, size_t cap, CTransfer::Clock::time_point until,
                             std::optional<std::chrono::milliseconds> bodyTime)
{
    StartupBody fetch;
    // Due after the start-up's time is up, it is not sent: the window must show.
    if (CTransfer::Clock::now() >= until) {
        fetch.transfer.requestedUrl = fetch.transfer.url = url;
        fetch.transfer.error = TransferError::NoTimeLeft;
        return fetch;
    }
    CTransfer transfer;
    bool opened = transfer.Open(url, ReadLimits{until});
    fetch.transfer = transfer.Info();
    if (!opened)
        return fetch;
    const CTransfer::Clock::time_point readUntil =
        bodyTime ? std::min(until, CTransfer::Clock::now() + *bodyTime) : until;
    std::string& body = fetch.body.emplace();
    transfer.ReadBody(
        [&body, cap](const char* data, DWORD size) {
            body.append(data, std::min<size_t>(size, cap - body.size()));
            return body.size() < cap;
        },
        ReadLimits{readUntil});
    fetch.transfer = transfer.Info();
    return fetch;
}
