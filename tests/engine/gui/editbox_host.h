// The edit-box tests' fixture: a full-screen active dialog with an event log, typing and the real clipboard.
#pragma once

#include <cstring>
#include <string>

#include "engine/gui/CKivGuiControl.h"
#include "gui_host.h"

class EditFixture : public GuiFrame {
protected:
    void SetUp() override
    {
        dialog = NewDialog(70, 0, 0, 1024, 768);
        gui()->SetActiveDialog(dialog);
        dialog->SetCallback(Note, 0);
        events.clear();
    }
    void TearDown() override
    {
        GuiFrame::TearDown();
        Pump();
    }
    static void Note(int event, int, CKivGuiControl *, int) { events += std::to_string(event) + " "; }
    static void Type(CKivGuiControl *box, const std::wstring &text)
    {
        for (WCHAR c : text)
            box->MsgProc(WM_CHAR, c, 0);
    }
    static void SetClipboard(const std::wstring &text)
    {
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * 2);
        std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * 2);
        GlobalUnlock(block);
        SetClipboardData(CF_UNICODETEXT, block);
        CloseClipboard();
    }
    static std::wstring Clipboard()
    {
        if (!OpenClipboard(nullptr))
            return L"<closed>";
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const WCHAR *units = data ? static_cast<const WCHAR *>(GlobalLock(data)) : nullptr;
        const std::wstring text = units ? units : L"<none>";
        if (units)
            GlobalUnlock(data);
        CloseClipboard();
        return text;
    }
    CKivGuiDialog *dialog = nullptr;
    static inline std::string events;
};
