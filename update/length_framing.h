// Whether a client can tell a whole body from a cut one. Pure logic.
//
// A body is framed by exactly one Content-Length in plain digits, and no
// Transfer-Encoding: a connection closed early then ends it short of the
// length. A body ended by closing the connection (HTTP/1.0, or no length),
// or sent chunked, looks whole however it was cut: the HTTP client reports
// a close, or chunk framing gone wrong (a negative or huge chunk size, a
// chunk longer than the data), as the end of the body.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// contentLengths: every Content-Length value, as sent; transferEncoding:
// every Transfer-Encoding value joined, empty when none was sent.
bool FramedByOneLength(const std::vector<std::string>& contentLengths, std::string_view transferEncoding);
