// The updater's texts are code page 932 bytes; controls take UTF-16. The
// conversion names code page 932 explicitly so that the texts read right
// whatever the system's ANSI code page is.
#pragma once

#include <string>
#include <string_view>

std::wstring WideFromCp932(std::string_view text);
std::string Cp932FromWide(std::wstring_view text);
