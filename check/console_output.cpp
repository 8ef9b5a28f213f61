#include "console_output.h"

CConsoleOutput::CConsoleOutput(DWORD standardHandle) : m_handle(GetStdHandle(standardHandle))
{
    DWORD mode = 0;
    m_console = m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE && GetConsoleMode(m_handle, &mode);
}

void CConsoleOutput::Write(std::wstring_view text)
{
    if (m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE || text.empty())
        return;
    if (m_console) {
        DWORD written = 0;
        WriteConsoleW(m_handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void CConsoleOutput::Progress(std::wstring_view text)
{
    if (!m_console)
        return;
    std::wstring line = L"\r" + std::wstring(text);
    // Blanks over the rest of a longer line before.
    if (text.size() < m_progressLength)
        line.append(m_progressLength - text.size(), L' ');
    m_progressLength = text.size();
    Write(line);
}

void CConsoleOutput::EndProgress()
{
    if (m_progressLength == 0)
        return;
    Write(L"\r" + std::wstring(m_progressLength, L' ') + L"\r");
    m_progressLength = 0;
}

std::wstring FromAnsi(std::string_view text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}
