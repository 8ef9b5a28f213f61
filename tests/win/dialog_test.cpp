// The dialog layer under the updater's dialogs: an exception that a handler
// lets through ends the dialog, and never unwinds into the system's frames,
// where the 32-bit program would end at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

#include "dialog.h"

namespace {

constexpr UINT kTemplate = 1;
constexpr int kThrowButton = 1000;

// Throws from its initialisation, or from the click it posts itself; counts
// the handler objects it released on the way.
class ThrowingDialog : public CDialog {
public:
    explicit ThrowingDialog(bool inInitialisation) : CDialog(kTemplate), m_inInitialisation(inInitialisation) {}

    int m_released = 0;

protected:
    BOOL OnInitDialog() override
    {
        Owned owned{m_released};
        if (m_inInitialisation)
            throw std::runtime_error("initialisation");
        PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(kThrowButton, BN_CLICKED), 0);
        return CDialog::OnInitDialog();
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR&) override
    {
        Owned owned{m_released};
        if (message == WM_COMMAND && LOWORD(wParam) == kThrowButton)
            throw std::bad_alloc();
        return false;
    }

private:
    struct Owned {
        int& released;
        ~Owned() { ++released; }
    };

    bool m_inInitialisation;
};

TEST(DialogLayer, AnExceptionFromAHandlerEndsTheDialogNotTheProgram)
{
    for (bool inInitialisation : {true, false}) {
        SCOPED_TRACE(inInitialisation ? "in the initialisation" : "in a click handler");
        ThrowingDialog dialog(inInitialisation);
        EXPECT_EQ(dialog.DoModal(), CDialog::kEndedByFault);
        EXPECT_GE(dialog.m_released, 1);
    }
}

} // namespace
