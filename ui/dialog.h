// Our small dialog layer: modal dialogs from templates, with the OK and
// Cancel paths, text exchange with edit controls and message routing to the
// dialog object.
#pragma once

#include <windows.h>

#include <string>

// One direction of the text exchange between a dialog's texts and its edits.
class CDataExchange {
public:
    CDataExchange(HWND dialog, bool saveAndValidate);

    // Writes text into the control, or with saveAndValidate reads it back.
    void Text(int controlId, std::string& text);

    const bool m_bSaveAndValidate;

private:
    HWND m_dialog;
};

class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; returns the result it ended with, or
    // kEndedByFault when a handler let an exception through.
    INT_PTR DoModal();
    static constexpr INT_PTR kEndedByFault = -2;

    // Marks the modal loop to end; the caller runs on to its own end.
    void EndDialog(INT_PTR result);

protected:
    // Transfers the texts to the controls. Returns TRUE so that the focus
    // goes to the first control that takes it.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange&) {}
    // Takes the texts from the controls and ends with IDOK.
    virtual void OnOK();
    virtual void OnCancel();
    // A dialog's own messages; true when handled, with result set to the
    // value the dialog procedure returns.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    // false: texts to the controls; true: texts from the controls.
    void UpdateData(bool saveAndValidate);
    // A modal message box with an OK button and the warning icon, owned by
    // this dialog, captioned with the program's name.
    void MessageBoxOk(const std::string& text);

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_parent;
};
