#include "text.h"

#include <windows.h>

namespace {

constexpr UINT kJapaneseCodePage = 932;

} // namespace

std::wstring WideFromCp932(std::string_view text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(kJapaneseCodePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(kJapaneseCodePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Cp932FromWide(std::wstring_view text)
{
    if (text.empty())
        return {};
    int length = WideCharToMultiByte(kJapaneseCodePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(kJapaneseCodePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                        length, nullptr, nullptr);
    return bytes;
}
