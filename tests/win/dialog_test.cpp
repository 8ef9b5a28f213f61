// The dialog layer under the updater's dialogs: an exception that a handler
// lets through ends the dialog, and never unwinds into the system's frames,
// where the 32-bit program would end at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <exception>
#include <stdexcept>

#include "dialog.h"

namespace {

constexpr UINT kTemplate = 1;
constexpr int kThrowButton = 1000;

// Throws from its initialisation, or from the click it posts itself; counts
// the handler objects released while an exception was on its way out: the
// one the throwing handler owned, and none of those that handlers before it
// released as they returned.
class ThrowingDialog : public CDialog {
public:
    explicit ThrowingDialog(bool inInitialisation) : CDialog(kTemplate), m_inInitialisation(inInitialisation) {}

    int m_unwound = 0;

protected:
    BOOL OnInitDialog() override
    {
        Owned owned{m_unwound};
        if (m_inInitialisation)
            throw std::runtime_error("initialisation");
        PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(kThrowButton, BN_CLICKED), 0);
        return CDialog::OnInitDialog();
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR&) override
    {
        Owned owned{m_unwound};
        if (message == WM_COMMAND && LOWORD(wParam) == kThrowButton)
            throw std::bad_alloc();
        return false;
    }

private:
    struct Owned {
        int& unwound;
        ~Owned()
        {
            if (std::uncaught_exceptions() > 0)
                ++unwound;
        }
    };

    bool m_inInitialisation;
};

TEST(DialogLayer, AnExceptionFromAHandlerEndsTheDialogNotTheProgram)
{
    for (bool inInitialisation : {true, false}) {
        SCOPED_TRACE(inInitialisation ? "in the initialisation" : "in a click handler");
        ThrowingDialog dialog(inInitialisation);
        EXPECT_EQ(dialog.DoModal(), CDialog::kEndedByFault);
        EXPECT_EQ(dialog.m_unwound, 1);
    }
}

} // namespace
