// Process-wide input-method support: the imm32/version binding, layout and IME state, input locales, readings.
#pragma once

#include <windows.h>
#include <imm.h>

#include <vector>

#include "engine/gui/CUniBuffer.h"

class CKivGuiControl;
class CKivGuiIMEEditBox;

// The input context as the input method manager locks it.
struct GuiInputContext {
    HWND hWnd;
    BOOL fOpen;
    POINT ptStatusWndPos;
    POINT ptSoftKbdPos;
    DWORD fdwConversion;
    DWORD fdwSentence;
    LOGFONTW lfFont;
    COMPOSITIONFORM cfCompForm;
    CANDIDATEFORM cfCandForm[4];
    HIMCC hCompStr;
    HIMCC hCandInfo;
    HIMCC hGuideLine;
    HIMCC hPrivate;
    DWORD dwNumMsgBuf;
    HIMCC hMsgBuf;
    DWORD fdwInit;
    DWORD dwReserve[3];
};
static_assert(sizeof(GuiInputContext) == 320, "the locked input context is 320 bytes");

// Every entry point the IME code calls. Each starts at a stand-by that does
// nothing; the program binds the real libraries, tests install their own.
struct GuiImeBinding {
    GuiInputContext *(WINAPI *ImmLockIMC)(HIMC);
    BOOL(WINAPI *ImmUnlockIMC)(HIMC);
    LPVOID(WINAPI *ImmLockIMCC)(HIMCC);
    BOOL(WINAPI *ImmUnlockIMCC)(HIMCC);
    BOOL(WINAPI *ImmDisableTextFrameService)(DWORD);
    LONG(WINAPI *ImmGetCompositionStringW)(HIMC, DWORD, LPVOID, DWORD);
    DWORD(WINAPI *ImmGetCandidateListW)(HIMC, DWORD, LPCANDIDATELIST, DWORD);
    HIMC(WINAPI *ImmGetContext)(HWND);
    BOOL(WINAPI *ImmReleaseContext)(HWND, HIMC);
    HIMC(WINAPI *ImmAssociateContext)(HWND, HIMC);
    BOOL(WINAPI *ImmGetOpenStatus)(HIMC);
    BOOL(WINAPI *ImmSetOpenStatus)(HIMC, BOOL);
    BOOL(WINAPI *ImmGetConversionStatus)(HIMC, LPDWORD, LPDWORD);
    HWND(WINAPI *ImmGetDefaultIMEWnd)(HWND);
    UINT(WINAPI *ImmGetIMEFileNameA)(HKL, LPSTR, UINT);
    UINT(WINAPI *ImmGetVirtualKey)(HWND);
    BOOL(WINAPI *ImmNotifyIME)(HIMC, DWORD, DWORD, DWORD);
    BOOL(WINAPI *ImmSetConversionStatus)(HIMC, DWORD, DWORD);
    BOOL(WINAPI *ImmSimulateHotKey)(HWND, DWORD);
    BOOL(WINAPI *ImmIsIME)(HKL);
    BOOL(WINAPI *VerQueryValueA)(LPCVOID, LPCSTR, LPVOID *, PUINT);
    BOOL(WINAPI *GetFileVersionInfoA)(LPCSTR, DWORD, DWORD, LPVOID);
    DWORD(WINAPI *GetFileVersionInfoSizeA)(LPCSTR, LPDWORD);
    // The layout queries, always the platform's unless a test replaces them.
    HKL(WINAPI *GetKeyboardLayout)(DWORD);
    int(WINAPI *GetKeyboardLayoutList)(int, HKL *);
    // From the input method's own file; null when absent.
    UINT(WINAPI *GetReadingString)(HIMC, UINT, LPWSTR, PINT, BOOL *, PUINT);
    BOOL(WINAPI *ShowReadingWindow)(HIMC, BOOL);
};

struct GuiInputLocale {
    HKL layout;
    WCHAR abbreviation[3];
    WCHAR name[64];
};

// The composition, candidate and reading stores shared by the IME edit boxes.
struct GuiImeStore {
    enum : int { kEntries = 10, kEntryUnits = 256, kAttributes = 1024, kClauses = 1024, kReadingUnits = 32 };
    CUniBuffer composition{0};
    int compositionCaret = 0;
    BYTE attributes[kAttributes] = {};
    DWORD clauses[kClauses] = {};
    WCHAR candidates[kEntries][kEntryUnits] = {};
    CUniBuffer candidateLine{1};
    int candidateCount = 0;
    int candidateSelection = -1;
    int pageSize = 0;
    int selectedStart = 0;
    int selectedLength = 0;
    BYTE candidatesShown = 0;
    RECT candidateRect = {};
    WCHAR readingLine[kReadingUnits] = {};
    int readingSelectedStart = 0;
    BYTE readingShown = 0;
    POINT compositionOrigin = {};
    // The box that drew the composition over its text last, where a press
    // picks from it; none when the composition is typed in or not drawn.
    const CKivGuiIMEEditBox *drawnBy = nullptr;
    int firstTarget = 0;
    BYTE finishing = 0;
    // The box receiving the input method's compositions, in whose text the
    // units typed in stand, marked in its text buffer; its deletion or its
    // focus loss forgets it.
    CKivGuiIMEEditBox *owner = nullptr;
    // The box sending keys to itself through the window: meanwhile they
    // reach no other control, whatever the window's owner does first.
    const CKivGuiControl *keysFor = nullptr;
    // Counts the compositions and ends an IME edit box took: the GUI system
    // tells by it that one reached no box.
    unsigned reached = 0;
    // Counts the compositions ended or forgotten: a box typing one in tells
    // by it that it ended meanwhile.
    unsigned ended = 0;
};

// Whatever ends or invalidates a composition forgets its owner and the mark
// of what it typed: the units left the owner's text already.
void ImeForgetTyped();

// The shared state of every IME edit box in the process.
struct GuiImeState {
    HMODULE imm32 = nullptr, version = nullptr, imeFile = nullptr;
    bool bound = false;
    BYTE enabled = 0;
    HKL layout = nullptr, localeLayout = nullptr, idLayout = nullptr;
    DWORD ids[2] = {};
    const WCHAR *indicator = nullptr;
    BYTE chineseIme = 0;
    BYTE verticalCandidates = 0;
    BYTE insertOnType = 0;
    int state = 0;
    HIMC defaultContext = nullptr;
    // A focus-out took the window's input context away.
    BYTE contextTaken = 0;
    BYTE horizontalReading = 0;
    std::vector<GuiInputLocale> locales;
};

GuiImeBinding &ImeBinding();
GuiImeState &ImeState();
GuiImeStore &ImeStore();

// Binds imm32 and version from the system folder while nothing is bound.
void ImeBindLibraries();
// Replaces the binding (the reading entry points included) and marks it
// bound, so the real libraries are not loaded over it; null puts the
// stand-bys back and lets the next ImeBindLibraries bind again.
void ImeInstallBinding(const GuiImeBinding *binding);

void ImeSetupReadingApi();
void ImeCheckInputLocale();
void ImeCheckToggleState();
DWORD ImeGetId(UINT index);
void ImeCheckHorizontalReading();
void ImeReadReadingString();
void ImeRebuildLocaleList();
// The window-level filter the GUI system runs first; nonzero when consumed.
int ImeStaticMsgProc(HWND window, UINT message, WPARAM wParam, LPARAM *lParam);

// Language tests on a layout's low word.
inline int ImePrimaryLanguage(HKL layout)
{
    return LOWORD(reinterpret_cast<UINT_PTR>(layout)) & 0x3FF;
}
inline int ImeSubLanguage(HKL layout)
{
    return LOWORD(reinterpret_cast<UINT_PTR>(layout)) >> 10;
}
inline int ImeLanguageId(HKL layout)
{
    return LOWORD(reinterpret_cast<UINT_PTR>(layout));
}
enum : int { kImeChinese = 4, kImeJapanese = 17, kImeKorean = 18 };
