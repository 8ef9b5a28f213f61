// When a dropped download may go on from where it stopped, and whether the
// server's answer to the request for the rest is exactly that rest. Pure
// logic.
//
// A resumed request asks for bytes N onwards with "Range: bytes=N-" and
// "If-Range: V", V the validator of the first answer: the server sends the
// rest only while the file is the one that validator names, and otherwise
// the whole new file. Only a strong validator may be used: a weak one, or
// none, could splice two versions of the file into one of the right length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TransferInfo;

// Seconds since 1970-01-01 00:00:00 UTC of an HTTP date in any of the three
// forms a recipient must take: "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday,
// 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994".
std::optional<int64_t> ParseHttpDate(std::string_view text);

// The validator of a first answer for If-Range: its ETag when it has one
// that is not weak ("W/"); only without any ETag, its Last-Modified when the
// answer's Date is at least a second later (a date within the second of a
// change cannot tell two files apart). Nothing otherwise: the download
// cannot go on safely.
std::optional<std::string> StrongValidator(const std::vector<std::string>& etags, const std::string& lastModified,
                                           const std::string& date);

// The validator a dropped download of this answer goes on with: only an
// answer framed by one length tells how much of the file is still to come.
std::optional<std::string> ResumeValidator(const TransferInfo& answer);

// True when an Accept-Ranges value names byte ranges.
bool AcceptsByteRanges(std::string_view acceptRanges);

// The headers of the request for the bytes from offset on.
std::string ResumeHeaders(uint64_t offset, const std::string& validator);

// What the answer to a resumed request is.
enum class RangeAnswer {
    Rest,  // 206 with exactly the bytes from the offset to the end of the same file
    Whole, // 200: the file changed, or the server ignores ranges; a new start
    Wrong, // anything else: another range, another length or ETag, several ranges, an error
};
// from: the offset asked for; total: the length of the first answer; etags:
// the first answer's ETag values.
RangeAnswer JudgeRangeAnswer(const TransferInfo& answer, uint64_t from, uint64_t total,
                             const std::vector<std::string>& etags);
