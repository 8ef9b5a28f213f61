// The shape of the two start-up fetches, the version file and the news: the
// window waits for them, so each reads a capped body under the start-up's
// time.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "transfer.h"

struct StartupBody {
    std::optional<std::string> body; // what arrived of it, up to the cap; nothing when it could not be fetched
    TransferInfo transfer;
};

// Fetches url and reads at most cap bytes of its body, until until and, when
// bodyTime is given, for at most bodyTime from the answer. A read that fails
// part way, or the end of the time, leaves what arrived so far. Not sent when
// until has passed before the request (TransferError::NoTimeLeft).
StartupBody FetchStartupFile(const std::string& url, size_t cap, CTransfer::Clock::time_point until,
                             std::optional<std::chrono::milliseconds> bodyTime = std::nullopt);
