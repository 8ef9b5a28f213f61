// Version values and their texts: pure logic, no platform calls.
//
// A version value is major * 1000 + minor; 0 means that no version could be
// read. Texts are code page 932 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The latest version announced by a version file body such as "version=1,5;".
// Only the text up to the first NUL counts. The key is not checked.
int ParseVersionFile(std::string_view body);

// The two numbers a version file body gives and the value made of them, for
// those who explain a value: a minor of 1000 or more carries into the major.
struct VersionFields {
    int64_t major = 0; // within the int range
    int64_t minor = 0; // within the int range
    int value = 0;     // what ParseVersionFile returns
};
VersionFields ParseVersionFileFields(std::string_view body);

// The current version from a FileVersion string such as "1, 5, 0, 0": its
// first two comma-separated fields. Only the first 255 characters count.
int ParseFileVersion(std::string_view fileVersion);

// The plain version file body that announces a positive version, such as
// "version=1,5;" for 1005: its minor always under 1000.
std::string FormatVersionFile(int version);

// "最新バージョン  1.05" and "現在のバージョン  1.04".
std::string FormatLatestLine(int version);
std::string FormatCurrentLine(int version);

inline bool IsUpdateAvailable(int current, int latest) { return current < latest; }
