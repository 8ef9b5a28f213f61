// The chaos server's misbehaviours, what the updater must make of each, and
// how a seeded case draws one for each of the three files. Pure logic.
#pragma once

#include <cstdint>
#include <string>

enum class Misbehaviour {
    Clean,
    Trickled,         // the body in small pieces with short pauses
    Redirected,       // a redirect to the file elsewhere on the server
    KeptAliveDropped, // answered on a kept-alive connection that drops the next request sent on it
    Chunked,          // whole, but chunked: no length to tell a cut by
    NotFound,
    ServerError,
    ClosedBeforeHead,
    BareBody,         // no status line
    StalledHead,      // silent until the receive timeout
    DrippingHead,     // the head a byte a second
    RedirectLoop,
    CutWithLength,    // a Content-Length, the body cut at 60%
    CutWithoutLength, // HTTP/1.0 ended by closing, at 60%
    ChunkedCut,       // chunked, a chunk of negative size after 60%
    PaddedLengthCut,  // a Content-Length zero-padded to 300 characters, cut at 60%
    LongEncodingList, // Content-Encoding: gzip, identity, ... past 300 characters
    PartialContent,   // 206 with the first half
    TwoLengths,       // two different Content-Length headers
    Pipelined,        // whole, then at once on the same connection a second answer nobody asked for
    // Cut at 40% after a strong ETag, and a request for the rest answered:
    DroppedResumed,   // with exactly the rest
    DroppedWhole,     // with the whole file again, as a server that ignores ranges
    Dropped416,       // with 416
    DroppedElsewhere, // with a range that starts elsewhere
    DroppedOtherTotal, // with the rest of a file of another length
    DroppedOtherTag,  // with the rest under another ETag
    DroppedMultipart, // with a multipart answer
    DroppedWeak,      // cut at 40% after a weak ETag: no request for the rest is made
};
inline constexpr int kMisbehaviourCount = 28;

std::string MisbehaviourName(Misbehaviour misbehaviour);

// What a file answered this way must give.
enum class Expected {
    File,     // the file, whole: the version shown, the news, the package installed
    Fallback, // 0, the no-news text, the old package kept
    Either,   // the version and news from what came, or the fallback; never a package
};
Expected ForVersionOrNews(Misbehaviour misbehaviour);
// The news shares the start-up's time with the version file: one whose head
// drips uses it all, and the news is not fetched.
Expected ForNews(Misbehaviour version, Misbehaviour news);
// An unsigned build installs only a package framed by one length.
Expected ForPackage(Misbehaviour misbehaviour);

struct ChaosCase {
    Misbehaviour version;
    Misbehaviour news;
    Misbehaviour package;
};
// Whether the server checker must call the server broken (exit 1): a file
// that players do not get whole, or a package without one length; but for
// news cut short with no length, which no client can tell from whole news.
bool ServerBroken(const ChaosCase& c);

// Case index of the run with seed: the same on every machine.
ChaosCase DrawCase(uint64_t seed, uint64_t index);
