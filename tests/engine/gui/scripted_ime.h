// A scripted Korean input method installed as the IME binding: it answers the input method manager's calls
// and sends real IME messages to the host window for the compositions a test scripts.
#pragma once

#include <windows.h>
#include <imm.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/gui/GuiIme.h"

struct ScriptedIme {
    static inline HWND window;
    static inline HKL layout;
    static inline std::vector<HKL> layouts;
    static inline std::wstring composition, result;
    static inline std::wstring committed;   // the last result sent
    static inline int cursor = 0;
    static inline int contexts = 0;       // taken minus released
    static inline HIMC associated;        // the window's input context
    static inline std::string log;        // notifications and keys taken
    static inline std::string fileName;
    static inline std::vector<BYTE> candidates;
    static inline bool hostileCounts = false;

    static void Install(HWND host)
    {
        window = host;
        layout = reinterpret_cast<HKL>(0x04120412);
        layouts = {layout};
        composition.clear();
        result.clear();
        log.clear();
        fileName.clear();
        candidates.clear();
        hostileCounts = false;
        contexts = 0;
        associated = reinterpret_cast<HIMC>(0x5150);
        ImeInstallBinding(nullptr);
        GuiImeBinding b = ImeBinding();
        b.ImmGetContext = [](HWND) WINAPI -> HIMC { return contexts++, reinterpret_cast<HIMC>(0x5150); };
        b.ImmReleaseContext = [](HWND, HIMC) WINAPI -> BOOL { return contexts--, TRUE; };
        // As the system's: the window hears of its context's change.
        b.ImmAssociateContext = [](HWND, HIMC context) WINAPI -> HIMC {
            const HIMC previous = std::exchange(associated, context);
            SendMessageW(window, WM_IME_SETCONTEXT, context != nullptr, LPARAM(ISC_SHOWUIALL));
            return previous;
        };
        b.ImmGetOpenStatus = [](HIMC) WINAPI -> BOOL { return TRUE; };
        b.ImmIsIME = [](HKL l) WINAPI -> BOOL { return (reinterpret_cast<UINT_PTR>(l) >> 28) == 0xE; };
        b.GetKeyboardLayout = [](DWORD) WINAPI -> HKL { return layout; };
        b.GetKeyboardLayoutList = [](int n, HKL *out) WINAPI -> int {
            for (int i = 0; out && i < n && i < int(layouts.size()); i++)
                out[i] = layouts[i];
            return int(layouts.size());
        };
        b.ImmGetIMEFileNameA = [](HKL, LPSTR out, UINT n) WINAPI -> UINT {
            lstrcpynA(out, fileName.c_str(), n);
            return lstrlenA(out);
        };
        b.ImmGetCompositionStringW = GetString;
        b.ImmGetCandidateListW = [](HIMC, DWORD, LPCANDIDATELIST out, DWORD size) WINAPI -> DWORD {
            if (size && out)
                std::memcpy(out, candidates.data(), std::min<size_t>(size, candidates.size()));
            return DWORD(candidates.size());
        };
        b.ImmNotifyIME = [](HIMC, DWORD action, DWORD index, DWORD) WINAPI -> BOOL {
            log += "notify" + std::to_string(action) + "." + std::to_string(index) + " ";
            if (action == NI_COMPOSITIONSTR && index == CPS_CANCEL && !composition.empty()) {
                composition.clear();
                SendMessageW(window, WM_IME_ENDCOMPOSITION, 0, 0);
            }
            return TRUE;
        };
        ImeInstallBinding(&b);
    }

    static LONG WINAPI GetString(HIMC, DWORD index, LPVOID out, DWORD bytes)
    {
        if (index == GCS_CURSORPOS)
            return hostileCounts ? -7 : cursor;
        std::wstring text = index == GCS_RESULTSTR ? result : composition;
        if (index == GCS_COMPATTR) {
            std::string attributes(text.size(), char(ATTR_INPUT));
            std::memcpy(out, attributes.data(), std::min<size_t>(bytes, attributes.size()));
            return hostileCounts ? 5000 : LONG(attributes.size());
        }
        if (hostileCounts && index == GCS_COMPSTR)
            return -1;
        const DWORD need = DWORD(text.size() * 2);
        if (out && bytes)
            std::memcpy(out, text.data(), std::min(bytes, need));
        return LONG(need);
    }

    static void Send(LPARAM flags) { SendMessageW(window, WM_IME_COMPOSITION, 0, flags); }
    // Each text in turn as the composition, starting one when none runs.
    static void Compose(std::initializer_list<std::wstring> steps)
    {
        for (const std::wstring &text : steps) {
            if (composition.empty())
                SendMessageW(window, WM_IME_STARTCOMPOSITION, 0, 0);
            composition = text;
            cursor = 0;
            Send(GCS_COMPSTR | GCS_CURSORPOS | GCS_COMPATTR);
        }
    }
    // Commits a text and goes on composing the next one.
    static void CommitAnd(const std::wstring &committed, const std::wstring &next)
    {
        result = ScriptedIme::committed = committed;
        composition = next;
        Send(GCS_RESULTSTR | GCS_COMPSTR | GCS_CURSORPOS);
        result.clear();
    }
    // Commits the composition, then ends it.
    static void Finish()
    {
        result = committed = composition;
        composition.clear();
        Send(GCS_RESULTSTR);
        result.clear();
        SendMessageW(window, WM_IME_ENDCOMPOSITION, 0, 0);
    }
    // The digit keys the box presses for a candidate are taken off the queue and noted.
    static bool TakeKey(const MSG &msg)
    {
        if (msg.wParam < '0' || msg.wParam > '9' || (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP))
            return false;
        if (msg.message == WM_KEYDOWN)
            log += "key" + std::string(1, char(msg.wParam)) + " ";
        return true;
    }
};
