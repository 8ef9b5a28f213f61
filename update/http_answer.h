// What a download takes from the head of an HTTP answer: the body length the
// server announced, and whether the body is the file as stored. Pure logic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The Content-Length headers of an answer, each value as the server sent it.
struct AnnouncedLength {
    std::optional<uint64_t> value; // set when the headers give one length
    bool malformed = false;        // a value that is not plain decimal digits, or two different values
};
AnnouncedLength ParseContentLength(const std::vector<std::string>& values);

// True when the body is the file's bytes as stored: no Content-Encoding, or
// "identity". The updater asks for no encoding, so any other is a server's
// mistake, and its bytes are not the file.
bool IsIdentityEncoding(std::string_view contentEncoding);
