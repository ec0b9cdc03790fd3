// A scripted Korean input method installed as the IME binding: it answers the input method manager's calls
// and sends real IME messages to the host window, composing Hangul from the keys it takes off the queue.
#pragma once

#include <windows.h>
#include <imm.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/gui/GuiIme.h"

struct ScriptedIme {
    static inline HWND window;
    static inline HKL layout;
    static inline std::vector<HKL> layouts;
    static inline std::wstring composition, result;
    static inline int cursor = 0;
    static inline int contexts = 0;       // taken minus released
    static inline std::string log;        // notifications and keys taken
    static inline std::string fileName;
    static inline std::vector<BYTE> candidates;
    static inline bool hostileCounts = false;
    static inline int initial = -1, vowel = -1, final = -1;   // the syllable being composed

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
        initial = vowel = final = -1;
        ImeInstallBinding(nullptr);
        GuiImeBinding b = ImeBinding();
        b.ImmGetContext = [](HWND) WINAPI -> HIMC { return contexts++, reinterpret_cast<HIMC>(0x5150); };
        b.ImmReleaseContext = [](HWND, HIMC) WINAPI -> BOOL { return contexts--, TRUE; };
        b.ImmAssociateContext = [](HWND, HIMC) WINAPI -> HIMC { return nullptr; };
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
            if (action == NI_COMPOSITIONSTR && index == CPS_CANCEL && Composing()) {
                initial = vowel = final = -1;
                composition.clear();
                SendMessageW(window, WM_IME_ENDCOMPOSITION, 0, 0);
            }
            return TRUE;
        };
        ImeInstallBinding(&b);
    }

    static bool Composing() { return initial >= 0 || vowel >= 0; }

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

    // The syllable (or the lone jamo) being composed.
    static std::wstring Current()
    {
        static const WCHAR jamo[] = {0x3131, 0x3134, 0x3137, 0x314E};
        static const int initials[] = {0, 2, 3, 18}, finals[] = {1, 4, 7, 27};
        if (initial < 0)
            return L"";
        if (vowel < 0)
            return std::wstring(1, jamo[initial]);
        const int v = vowel == 0 ? 0 : 4;
        return std::wstring(1, WCHAR(0xAC00 + (initials[initial] * 21 + v) * 28 + (final < 0 ? 0 : finals[final])));
    }
    static void Send(LPARAM flags) { SendMessageW(window, WM_IME_COMPOSITION, 0, flags); }
    static void Compose()
    {
        composition = Current();
        cursor = 0;
        Send(GCS_COMPSTR | GCS_CURSORPOS | GCS_COMPATTR);
    }
    // Commits the syllable and goes on with the next one.
    static void CommitAnd(int nextInitial, int nextVowel)
    {
        result = Current();
        initial = nextInitial;
        vowel = nextVowel;
        final = -1;
        composition = Current();
        Send(GCS_RESULTSTR | GCS_COMPSTR | GCS_CURSORPOS);
        result.clear();
    }

    // Consonants R S E G, vowels K J (the two-set layout); digits are noted.
    static bool TakeKey(const MSG &msg)
    {
        if (msg.message == WM_KEYUP)
            return msg.wParam >= '0' && msg.wParam <= '9';
        if (msg.message != WM_KEYDOWN)
            return false;
        if (msg.wParam >= '0' && msg.wParam <= '9') {
            log += "key" + std::string(1, char(msg.wParam)) + " ";
            return true;
        }
        const char *consonants = "RSEG", *vowels = "KJ";
        const char *c = std::strchr(consonants, int(msg.wParam)), *v = std::strchr(vowels, int(msg.wParam));
        if (!msg.wParam || (!c && !v))
            return false;
        if (!Composing())
            SendMessageW(window, WM_IME_STARTCOMPOSITION, 0, 0);
        if (c) {
            const int k = int(c - consonants);
            if (initial < 0)
                initial = k;
            else if (vowel >= 0 && final < 0)
                final = k;
            else
                return CommitAnd(k, -1), true;
        } else {
            const int k = int(v - vowels);
            if (initial >= 0 && vowel < 0)
                vowel = k;
            else if (final >= 0) {
                const int moved = final;
                final = -1;
                return CommitAnd(moved, k), true;
            } else
                return true;
        }
        Compose();
        return true;
    }
    static void Press(const char *keys)
    {
        for (const char *k = keys; *k; k++)
            PostMessageW(window, WM_KEYDOWN, WPARAM(*k), 0);
    }
    // The committed syllable, then the end of the composition.
    static void Finish()
    {
        result = Current();
        initial = vowel = final = -1;
        composition.clear();
        Send(GCS_RESULTSTR);
        result.clear();
        SendMessageW(window, WM_IME_ENDCOMPOSITION, 0, 0);
    }
};
