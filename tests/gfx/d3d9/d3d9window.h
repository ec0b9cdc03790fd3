// The game's kind of window for device tests: a 1024x768 popup.
#pragma once

#include <windows.h>

inline LRESULT CALLBACK KivTestWindowProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    return DefWindowProcA(window, message, w, l);
}

// Creates (once per class name) a visible popup window of the given size.
inline HWND KivTestCreateWindow(int width, int height, const char *className = "KivD3D9Test")
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = KivTestWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, className, "kiv test", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (window) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return window;
}

// Lets the window handle what the system sent it.
inline void KivTestPumpMessages(void)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
