#include "dialog.h"

#include "text.h"

namespace {

// The program's file name without folder and extension.
std::wstring ProgramTitle()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring title = path;
    size_t slash = title.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        title.erase(0, slash + 1);
    size_t dot = title.find_last_of(L'.');
    if (dot != std::wstring::npos)
        title.erase(dot);
    return title;
}

} // namespace

CDataExchange::CDataExchange(HWND dialog, bool saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_dialog(dialog)
{
}

void CDataExchange::Text(int controlId, std::string& text)
{
    HWND control = GetDlgItem(m_dialog, controlId);
    if (!m_bSaveAndValidate) {
        SetWindowTextW(control, WideFromCp932(text).c_str());
        return;
    }
    std::wstring wide(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    int length = GetWindowTextW(control, wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(length));
    text = Cp932FromWide(wide);
}

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal()
{
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result)
{
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(true);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

void CDialog::UpdateData(bool saveAndValidate)
{
    CDataExchange exchange(m_hWnd, saveAndValidate);
    DoDataExchange(exchange);
}

void CDialog::MessageBoxOk(const std::string& text)
{
    MessageBoxW(m_hWnd, WideFromCp932(text).c_str(), ProgramTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // No exception may leave here: the system's frames below carry no unwind
    // information, and on i686 the unwinder ends the process at them. One
    // that a handler lets through (memory run out) ends the dialog instead,
    // as Quit does, once what the handler owned is released.
    try {
        if (message == WM_INITDIALOG) {
            auto* dialog = reinterpret_cast<CDialog*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
            dialog->m_hWnd = window;
            return dialog->OnInitDialog();
        }
        auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        return dialog ? dialog->Dispatch(message, wParam, lParam) : FALSE;
    } catch (...) {
        ::EndDialog(window, kEndedByFault);
        return TRUE;
    }
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = FALSE;
    if (OnMessage(message, wParam, lParam, result))
        return result;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}
