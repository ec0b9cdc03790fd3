// The edit-box tests' host: a Unicode window routing messages to the GUI, an engine root, skins, frames.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiControl.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSystem.h"
#include "gfx/core/camera.h"
#include "gfx/d3d9/d3d9device.h"
#include "backbuffer.h"
#include "gui_png.h"

// Offered every queued key message before the window: the scripted IME.
inline std::function<bool(const MSG &)> KeyFilter;

inline LRESULT CALLBACK EditHostProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (CKivGuiSystem *gui = CKivGuiSystem::GetInstance())
        if (gui->MsgProc(window, message, w, l))
            return 0;
    return DefWindowProcW(window, message, w, l);
}

inline void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && KeyFilter && KeyFilter(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class EditHost : public ::testing::Environment {
public:
    void SetUp() override
    {
        // The clipboard reader in a second process needs no window or device.
        if (std::getenv("KIV_CLIPBOARD_EXPECT"))
            return;
        WNDCLASSW wc = {};
        wc.lpfnWndProc = EditHostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KivEditHost";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"edit", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr,
                                 nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        SetFocus(window);
        base = new CKivBase;
        ASSERT_EQ(base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "edit test", 0, 0), 1);
        base->CreateFonts("\xB5\xB8\xBF\xF2");
        WriteGuiPng("skin/back", 400, 20, {255, 255, 255, 255});
        WriteGuiPng("skin/caret", 2, 13, {0, 0, 255, 255});
        WriteGuiPng("skin/select", 15, 13, {0, 255, 0, 255});
        WriteGuiPng("Data/Interface/Chat/ime/ime_outline", 10, 10, {255, 0, 255, 255});
        WriteGuiPng("Data/Interface/Chat/ime/ime_fill", 10, 10, {255, 255, 0, 255});
        WriteGuiPng("Data/Interface/Chat/ime/ime_focus1", 10, 10, {0, 255, 255, 255});
        WriteGuiPng("Data/Interface/Chat/ime/ime_focus2", 1, 10, {255, 128, 0, 255});
    }
    void TearDown() override
    {
        if (!base)
            return;
        base->Shutdown();
        delete base;
        DestroyWindow(window);
    }
    static inline CKivBase *base;
    static inline HWND window;
};

// A full-screen active dialog with an event log and one box made by the test.
class EditFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog = new CKivGuiDialog(70);
        dialog->SetLocation(0, 0);
        dialog->SetSize(1024, 768);
        gui()->AddDialog(dialog);
        gui()->SetActiveDialog(dialog);
        dialog->SetCallback(Note, 0);
        events.clear();
    }
    void TearDown() override
    {
        gui()->RemoveDialog(dialog);
        delete dialog;
        Pump();
    }
    static CKivGuiSystem *gui() { return EditHost::base->GetGuiSystem(); }
    static void Note(int event, int, CKivGuiControl *, int) { events += std::to_string(event) + " "; }
    // Clears to black, draws the GUI and keeps the back buffer.
    void Frame()
    {
        RwRGBA black = {0, 0, 0, 255};
        RwCamera *camera = EditHost::base->GetDefaultCamera()->GetCamera();
        RwCameraClear(camera, &black, rwCAMERACLEARIMAGE | rwCAMERACLEARZ);
        EditHost::base->Lock();
        gui()->Render(0);
        EditHost::base->Unlock();
        pixels = CopyBackBuffer(rwD3D9Driver.device);
        ASSERT_EQ(pixels.size(), 1024u * 768u);
    }
    // The box of pixels near one colour inside a region.
    RECT Box(DWORD colour, int left = 0, int top = 0, int right = 1024, int bottom = 768) const
    {
        RECT box = {1 << 30, 1 << 30, -1, -1};
        for (int y = top; y < bottom; y++)
            for (int x = left; x < right; x++) {
                DWORD p = pixels[y * 1024 + x] & 0xFFFFFF;
                bool match = true;
                for (int c = 0; c < 24; c += 8)
                    match = match && std::abs(int((p >> c) & 0xFF) - int((colour >> c) & 0xFF)) <= 8;
                if (match)
                    box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                           std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
            }
        return box;
    }
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
        std::wstring text;
        if (!OpenClipboard(nullptr))
            return L"<closed>";
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const WCHAR *units = data ? static_cast<const WCHAR *>(GlobalLock(data)) : nullptr;
        text = units ? units : L"<none>";
        if (units)
            GlobalUnlock(data);
        CloseClipboard();
        return text;
    }
    CKivGuiDialog *dialog = nullptr;
    static inline std::string events;
    std::vector<DWORD> pixels;
};
