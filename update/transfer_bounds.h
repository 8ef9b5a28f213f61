// How long the updater waits for the server's files: the figures, and the
// progress floor of downloads. Pure logic.
//
// Every wait of the HTTP client ends after its 5 s receive timeout when the
// server falls silent; a server that keeps sending a byte now and then, of
// its head or its body, is never silent. These bounds end such transfers too.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

// The start-up fetches, before the window shows, share 10 s counted from the
// version file's request. The version file's body, at most 255 bytes, is
// read for at most 3 s from its answer (its head, after any redirects): one
// packet's worth, even over a poor line. The news is read until the 10 s
// are up. Every wait for the server, for a head or for a body, ends at its
// bound, so the window shows about 10 s after the first request at the
// latest, whatever the heads, redirects and bodies do; a slow but steady
// line gets most of those 10 s for the news.
inline constexpr std::chrono::milliseconds kVersionFileTime{3000};
inline constexpr std::chrono::milliseconds kStartupFetchTime{10000};

// Downloads (the package and its signature) fail when fewer than 32 KiB
// arrive in any 30 s, about 1 KiB/s: a line that slow would take two and a
// half days over a 200 MiB package, while a slow but living one, or one that
// stalls for some seconds, stays far above it.
inline constexpr uint64_t kMinProgressBytes = 32 * 1024;
inline constexpr std::chrono::milliseconds kProgressWindow{30000};

// A download whose connection drops goes on from where it stopped, at most
// this many times in one click, and each time only once new bytes came.
inline constexpr int kMaxResumes = 5;

// Tells whether a download still makes progress: at least kMinProgressBytes
// in the last kProgressWindow. A transfer counts the time from its first
// request, so that a slow head and slow redirects count against the floor as
// a slow body does.
class CProgressFloor {
public:
    // The bytes received in all at elapsed; false once fewer than
    // kMinProgressBytes arrived in the window before it.
    bool Holds(uint64_t received, std::chrono::milliseconds elapsed);

private:
    struct Checkpoint {
        std::chrono::milliseconds at;
        uint64_t received;
    };
    static constexpr std::chrono::milliseconds kInterval{1000};
    // A window's worth of checkpoints, one an interval, and the one before.
    static constexpr size_t kCheckpoints = kProgressWindow / kInterval + 2;

    // Oldest first, from m_first on, round the array.
    std::array<Checkpoint, kCheckpoints> m_checkpoints{};
    size_t m_first = 0;
    size_t m_count = 0;
};
