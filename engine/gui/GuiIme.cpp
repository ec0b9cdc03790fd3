// Input-method support shared by the IME edit boxes: bindings, layout and IME state, input locales, readings.
#include "engine/gui/GuiIme.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/gui/CKivGuiTestEditBox.h"
#include "engine/gui/GuiScreen.h"

namespace {

GuiInputContext *WINAPI NoLockIMC(HIMC) { return nullptr; }
BOOL WINAPI NoUnlockIMC(HIMC) { return 0; }
LPVOID WINAPI NoLockIMCC(HIMCC) { return nullptr; }
BOOL WINAPI NoUnlockIMCC(HIMCC) { return 0; }
BOOL WINAPI NoDisableTextFrameService(DWORD) { return 1; }
LONG WINAPI NoGetCompositionString(HIMC, DWORD, LPVOID, DWORD) { return IMM_ERROR_GENERAL; }
DWORD WINAPI NoGetCandidateList(HIMC, DWORD, LPCANDIDATELIST, DWORD) { return 0; }
HIMC WINAPI NoGetContext(HWND) { return nullptr; }
BOOL WINAPI NoReleaseContext(HWND, HIMC) { return 0; }
HIMC WINAPI NoAssociateContext(HWND, HIMC) { return nullptr; }
BOOL WINAPI NoGetOpenStatus(HIMC) { return 0; }
BOOL WINAPI NoSetOpenStatus(HIMC, BOOL) { return 0; }
BOOL WINAPI NoGetConversionStatus(HIMC, LPDWORD, LPDWORD) { return 0; }
HWND WINAPI NoGetDefaultIMEWnd(HWND) { return nullptr; }
UINT WINAPI NoGetIMEFileName(HKL, LPSTR, UINT) { return 0; }
UINT WINAPI NoGetVirtualKey(HWND) { return 0; }
BOOL WINAPI NoNotifyIME(HIMC, DWORD, DWORD, DWORD) { return 0; }
BOOL WINAPI NoSetConversionStatus(HIMC, DWORD, DWORD) { return 0; }
BOOL WINAPI NoSimulateHotKey(HWND, DWORD) { return 0; }
BOOL WINAPI NoIsIME(HKL) { return 0; }
BOOL WINAPI NoVerQueryValue(LPCVOID, LPCSTR, LPVOID *, PUINT) { return 0; }
BOOL WINAPI NoGetFileVersionInfo(LPCSTR, DWORD, DWORD, LPVOID) { return 0; }
DWORD WINAPI NoGetFileVersionInfoSize(LPCSTR, LPDWORD) { return 0; }

constexpr GuiImeBinding Standbys = {
    NoLockIMC, NoUnlockIMC, NoLockIMCC, NoUnlockIMCC, NoDisableTextFrameService,
    NoGetCompositionString, NoGetCandidateList, NoGetContext, NoReleaseContext, NoAssociateContext,
    NoGetOpenStatus, NoSetOpenStatus, NoGetConversionStatus, NoGetDefaultIMEWnd, NoGetIMEFileName,
    NoGetVirtualKey, NoNotifyIME, NoSetConversionStatus, NoSimulateHotKey, NoIsIME,
    NoVerQueryValue, NoGetFileVersionInfo, NoGetFileVersionInfoSize,
    GetKeyboardLayout, GetKeyboardLayoutList,
    nullptr, nullptr,
};

GuiImeBinding Bound = Standbys;
GuiImeState State;

const WCHAR IndicatorEn[3] = L"En";
const WCHAR IndicatorSimplified[3] = L"\x7B80";
const WCHAR IndicatorTraditional[3] = L"\x7E41";
const WCHAR IndicatorKorean[3] = L"\xAC00";
const WCHAR IndicatorJapanese[3] = L"\x3042";

template <class F> void Take(HMODULE module, F &slot, const char *name)
{
    FARPROC found = module ? GetProcAddress(module, name) : nullptr;
    if (found)
        slot = reinterpret_cast<F>(found);
}

// A library (or a bare file name) from the system folder only, never from
// beside the program.
HMODULE LoadFromSystem(const char *file)
{
    if (!file[0] || std::strpbrk(file, "\\/:"))
        return nullptr;
    char path[MAX_PATH + 1];
    UINT length = GetSystemDirectoryA(path, sizeof(path));
    size_t name = std::strlen(file);
    if (length == 0 || length + 1 + name >= MAX_PATH)
        return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, file, name + 1);
    return LoadLibraryA(path);
}

HIMC WindowContext()
{
    return Bound.ImmGetContext(GuiEngineWindow());
}

void ReleaseWindowContext(HIMC context)
{
    if (context)
        Bound.ImmReleaseContext(GuiEngineWindow(), context);
}

bool SameName(const char *a, const char *b)
{
    return CompareStringA(1033, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

// The file version of the input method: high and low double words.
bool ImeFileVersion(const char *file, DWORD *high, DWORD *low)
{
    DWORD handle = 0;
    DWORD size = Bound.GetFileVersionInfoSizeA(file, &handle);
    if (size == 0)
        return false;
    void *block = HeapAlloc(GetProcessHeap(), 0, size);
    if (!block)
        return false;
    bool ok = false;
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (Bound.GetFileVersionInfoA(file, handle, size, block) &&
        Bound.VerQueryValueA(block, "\\", reinterpret_cast<void **>(&info), &length) && info &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        *high = info->dwFileVersionMS;
        *low = info->dwFileVersionLS;
        ok = true;
    }
    HeapFree(GetProcessHeap(), 0, block);
    return ok;
}

// A 32-bit pointer stored at a byte offset of a block; null when the block is.
const BYTE *PointerAt(const BYTE *p, int offset)
{
    if (!p)
        return nullptr;
    const BYTE *q;
    std::memcpy(&q, p + offset, sizeof(q));
    return q;
}

int IntAt(const BYTE *p, int offset)
{
    int v;
    std::memcpy(&v, p + offset, sizeof(v));
    return v;
}

// The reading entries made into the candidate store; the count made.
int ReadingFromWide(const WCHAR *text, int length, int errorIndex)
{
    GuiImeStore &s = ImeStore();
    int count = std::min(std::max(length, 0), int(GuiImeStore::kEntries));
    for (int i = 0; i < count; i++) {
        s.candidates[i][0] = text[i];
        s.candidates[i][1] = 0;
        if (s.candidateSelection < 0 && i >= errorIndex)
            s.candidateSelection = i;
    }
    return count;
}

int ReadingFromAnsi(const char *text, int length, int errorIndex, int language)
{
    GuiImeStore &s = ImeStore();
    UINT codePage = CP_ACP;
    GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<LPWSTR>(&codePage), sizeof(codePage) / sizeof(WCHAR));
    int count = 0;
    for (int i = 0; i < length && count < GuiImeStore::kEntries;) {
        // A lead byte at the end is never joined with the byte past it.
        int bytes = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) && i + 1 < length ? 2 : 1;
        int made = MultiByteToWideChar(codePage, 0, text + i, bytes, s.candidates[count], GuiImeStore::kEntryUnits - 1);
        s.candidates[count][std::max(made, 0)] = 0;
        if (s.candidateSelection < 0 && i >= errorIndex)
            s.candidateSelection = count;
        count++;
        i += bytes;
    }
    return count;
}

// The reading by hand from the input method's private block.
int ReadPrivateReading(HIMC context)
{
    GuiInputContext *ic = Bound.ImmLockIMC(context);
    if (!ic)
        return 0;
    const BYTE *p = static_cast<const BYTE *>(Bound.ImmLockIMCC(ic->hPrivate));
    int count = 0;
    if (p) {
        const DWORD id = ImeGetId(0);
        const BYTE *q = nullptr;
        int lengthAt = 0x9C, errorAt = 0xA0, textAt = 0x38;
        bool wide = true;
        switch (id) {
        case 0x4020404: case 0x4030404: case 0x4040404:
            q = PointerAt(p, 0x18);
            break;
        case 0x5000404:
            q = PointerAt(PointerAt(p, 0x0C), 0x20);
            lengthAt = 0x50, errorAt = 0x54, textAt = 0x40, wide = false;
            break;
        case 0x5010404: case 0x5020404: case 0x5030804:
            q = PointerAt(PointerAt(p, 4), 0x18);
            lengthAt = 0x60, errorAt = 0x64, textAt = 0x40;
            break;
        case 0x4010804:
            q = PointerAt(p, 4 * (ImeGetId(1) < 2 ? 7 : 8));
            break;
        case 0x4020804: {
            q = PointerAt(p, 0x20);
            OSVERSIONINFOW v = {};
            v.dwOSVersionInfoSize = sizeof(v);
            wide = GetVersionExW(&v) && v.dwPlatformId == 2;
            int k = wide ? 2 : 1;
            lengthAt = 0x40 + 16 * k, errorAt = 0x44 + 16 * k, textAt = 0x40;
            break;
        }
        }
        if (q) {
            int length = IntAt(q, lengthAt), error = IntAt(q, errorAt);
            if (id == 0x4010804)
                error = std::min(error, length);
            count = wide ? ReadingFromWide(reinterpret_cast<const WCHAR *>(q + textAt), length, error)
                         : ReadingFromAnsi(reinterpret_cast<const char *>(q + textAt), length, error,
                                           ImeLanguageId(State.layout));
        }
        Bound.ImmUnlockIMCC(ic->hPrivate);
    }
    Bound.ImmUnlockIMC(context);
    ImeCheckHorizontalReading();
    return count;
}

} // namespace

GuiImeBinding &ImeBinding()
{
    return Bound;
}

GuiImeState &ImeState()
{
    return State;
}

// Built on first use, so every box finds it whatever the start-up order;
// destroyed at exit.
GuiImeStore &ImeStore()
{
    static GuiImeStore store;
    return store;
}

void ImeBindLibraries()
{
    if (State.bound)
        return;
    ImeStore().composition.Reserve(1024);
    State.imm32 = LoadFromSystem("imm32.dll");
    if (State.imm32) {
        HMODULE m = State.imm32;
        Take(m, Bound.ImmLockIMC, "ImmLockIMC");
        Take(m, Bound.ImmUnlockIMC, "ImmUnlockIMC");
        Take(m, Bound.ImmLockIMCC, "ImmLockIMCC");
        Take(m, Bound.ImmUnlockIMCC, "ImmUnlockIMCC");
        Take(m, Bound.ImmDisableTextFrameService, "ImmDisableTextFrameService");
        Take(m, Bound.ImmGetCompositionStringW, "ImmGetCompositionStringW");
        Take(m, Bound.ImmGetCandidateListW, "ImmGetCandidateListW");
        Take(m, Bound.ImmGetContext, "ImmGetContext");
        Take(m, Bound.ImmReleaseContext, "ImmReleaseContext");
        Take(m, Bound.ImmAssociateContext, "ImmAssociateContext");
        Take(m, Bound.ImmGetOpenStatus, "ImmGetOpenStatus");
        Take(m, Bound.ImmSetOpenStatus, "ImmSetOpenStatus");
        Take(m, Bound.ImmGetConversionStatus, "ImmGetConversionStatus");
        Take(m, Bound.ImmGetDefaultIMEWnd, "ImmGetDefaultIMEWnd");
        Take(m, Bound.ImmGetIMEFileNameA, "ImmGetIMEFileNameA");
        Take(m, Bound.ImmGetVirtualKey, "ImmGetVirtualKey");
        Take(m, Bound.ImmNotifyIME, "ImmNotifyIME");
        Take(m, Bound.ImmSetConversionStatus, "ImmSetConversionStatus");
        Take(m, Bound.ImmSimulateHotKey, "ImmSimulateHotKey");
        Take(m, Bound.ImmIsIME, "ImmIsIME");
        State.bound = true;
    }
    State.version = LoadFromSystem("version.dll");
    Take(State.version, Bound.VerQueryValueA, "VerQueryValueA");
    Take(State.version, Bound.GetFileVersionInfoA, "GetFileVersionInfoA");
    Take(State.version, Bound.GetFileVersionInfoSizeA, "GetFileVersionInfoSizeA");
}

void ImeInstallBinding(const GuiImeBinding *binding)
{
    Bound = binding ? *binding : Standbys;
    State.bound = binding != nullptr;
    State.layout = State.localeLayout = State.idLayout = nullptr;
    State.ids[0] = State.ids[1] = 0;
}

void ImeSetupReadingApi()
{
    Bound.GetReadingString = nullptr;
    Bound.ShowReadingWindow = nullptr;
    char file[MAX_PATH + 1] = {};
    UINT length = Bound.ImmGetIMEFileNameA(State.layout, file, MAX_PATH);
    file[std::min<UINT>(length, MAX_PATH)] = 0;
    if (!file[0])
        return;
    if (State.imeFile)
        FreeLibrary(State.imeFile);
    State.imeFile = LoadFromSystem(file);
    Take(State.imeFile, Bound.GetReadingString, "GetReadingString");
    Take(State.imeFile, Bound.ShowReadingWindow, "ShowReadingWindow");
}

void ImeCheckInputLocale()
{
    HKL layout = Bound.GetKeyboardLayout(0);
    State.layout = layout;
    if (layout == State.localeLayout)
        return;
    State.localeLayout = layout;
    switch (ImePrimaryLanguage(layout)) {
    case kImeChinese:
        State.verticalCandidates = 1;
        if (ImeSubLanguage(layout) == SUBLANG_CHINESE_TRADITIONAL) {
            State.indicator = IndicatorTraditional;
        } else if (ImeSubLanguage(layout) == SUBLANG_CHINESE_SIMPLIFIED) {
            State.indicator = IndicatorSimplified;
            State.verticalCandidates = ImeGetId(0) == 0;
        } else {
            State.indicator = IndicatorEn;
        }
        break;
    case kImeJapanese:
        State.indicator = IndicatorJapanese;
        State.verticalCandidates = 1;
        break;
    case kImeKorean:
        State.indicator = IndicatorKorean;
        State.verticalCandidates = 0;
        break;
    default:
        State.indicator = IndicatorEn;
    }
}

void ImeCheckToggleState()
{
    ImeCheckInputLocale();
    const bool ime = Bound.ImmIsIME(State.layout) != 0;
    State.chineseIme = ime && ImePrimaryLanguage(State.layout) == kImeChinese;
    HIMC context = WindowContext();
    if (!context) {
        State.state = 0;
        return;
    }
    if (State.chineseIme) {
        DWORD conversion = 0, sentence = 0;
        Bound.ImmGetConversionStatus(context, &conversion, &sentence);
        State.state = (conversion & IME_CMODE_NATIVE) ? 1 : 2;
    } else {
        State.state = Bound.ImmGetOpenStatus(context) ? 1 : 0;
    }
    ReleaseWindowContext(context);
}

DWORD ImeGetId(UINT index)
{
    if (index > 1)
        return 0;
    HKL layout = State.layout;
    if (layout == State.idLayout)
        return State.ids[index];
    State.idLayout = layout;
    State.ids[0] = State.ids[1] = 0;
    const UINT_PTR l = reinterpret_cast<UINT_PTR>(layout);
    if (l != 0xE0080404 && l != 0xE0090404 && l != 0xE00E0804)
        return 0;
    char file[1024] = {};
    UINT length = Bound.ImmGetIMEFileNameA(layout, file, sizeof(file) - 1);
    file[std::min<UINT>(length, sizeof(file) - 1)] = 0;
    if (!Bound.GetReadingString) {
        static const char *const known[] = {"TINTLGNT.IME", "CINTLGNT.IME", "MSTCIPHA.IME", "PINTLGNT.IME",
                                            "MSSCIPYA.IME"};
        if (std::none_of(std::begin(known), std::end(known), [&](const char *k) { return SameName(file, k); }))
            return 0;
    }
    DWORD high = 0, low = 0;
    if (!ImeFileVersion(file, &high, &low))
        return 0;
    const DWORD version = ((high & 0xFF0000) << 8) | ((high & 0xFF) << 16);
    const int language = ImeLanguageId(layout);
    auto is = [version](int major, int minor) { return version == DWORD((major << 24) | (minor << 16)); };
    const bool traditional = language == 0x404 && (is(4, 2) || is(4, 3) || is(4, 4) || is(5, 0) || is(5, 1) ||
                                                   is(5, 2) || is(6, 0));
    const bool simplified = language == 0x804 && (is(4, 1) || is(4, 2) || is(5, 3));
    if (Bound.GetReadingString || traditional || simplified) {
        State.ids[0] = language | version;
        State.ids[1] = low;
    }
    return State.ids[index];
}

void ImeCheckHorizontalReading()
{
    const DWORD id = ImeGetId(0);
    const UINT_PTR l = reinterpret_cast<UINT_PTR>(State.layout);
    if (l == 0xE00E0804 || l == 0xE0090404 || id == 0) {
        State.horizontalReading = 1;
        return;
    }
    if ((id & 0xFFFF) != 0x404)
        return;
    const DWORD version = id & 0xFFFF0000;
    char key[128] = "software\\microsoft\\windows\\currentversion\\";
    std::strcat(key, version < 0x5010000 ? "TINTLGNT" : "MSTCIPH");
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    BYTE mapping[8] = {};
    DWORD size = sizeof(mapping), type = 0;
    if (RegQueryValueExA(handle, "Keyboard Mapping", nullptr, &type, mapping, &size) == ERROR_SUCCESS && size > 0) {
        if (version <= 0x5000000)
            State.horizontalReading = mapping[0] == 0x22 || mapping[0] == 0x23;
        else if (version == 0x5010000 || version == 0x5020000)
            State.horizontalReading = mapping[0] >= 34 && mapping[0] <= 36;
    }
    RegCloseKey(handle);
}

void ImeReadReadingString()
{
    HIMC context = WindowContext();
    if (!context)
        return;
    GuiImeStore &s = ImeStore();
    for (int i = 0; i < 4; i++)
        s.candidates[i][0] = 0;
    s.candidateSelection = -1;
    int count = 0;
    if (Bound.GetReadingString) {
        UINT max = 0;
        INT error = 0;
        BOOL vertical = FALSE;
        UINT length = Bound.GetReadingString(context, 0, nullptr, &error, &vertical, &max);
        if (length > 0 && length < 0x10000) {
            WCHAR *text = static_cast<WCHAR *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (length + 1) * 2));
            if (text) {
                UINT got = Bound.GetReadingString(context, length, text, &error, &vertical, &max);
                count = ReadingFromWide(text, std::min(got, length), error);
                HeapFree(GetProcessHeap(), 0, text);
            }
        }
        State.horizontalReading = !vertical;
    } else {
        count = ReadPrivateReading(context);
    }
    if (count < GuiImeStore::kEntries)
        s.candidates[count][0] = 0;
    s.candidateCount = count;
    ReleaseWindowContext(context);
    s.readingShown = count > 0;
    if (State.horizontalReading) {
        s.readingLine[0] = 0;
        for (int i = 0; i < count; i++) {
            int used = lstrlenW(s.readingLine);
            if (i == s.candidateSelection)
                s.readingSelectedStart = used;
            lstrcpynW(s.readingLine + used, s.candidates[i], GuiImeStore::kReadingUnits - used);
        }
    }
}

void ImeRebuildLocaleList()
{
    State.locales.clear();
    int count = Bound.GetKeyboardLayoutList(0, nullptr);
    if (count <= 0)
        return;
    std::unique_ptr<HKL[]> layouts(new (std::nothrow) HKL[count]);
    if (!layouts)
        return;
    count = std::min(count, Bound.GetKeyboardLayoutList(count, layouts.get()));
    for (int i = 0; i < count; i++) {
        HKL layout = layouts[i];
        const int primary = ImePrimaryLanguage(layout);
        if ((primary == kImeChinese || primary == kImeJapanese || primary == kImeKorean) && !Bound.ImmIsIME(layout))
            continue;
        if (std::any_of(State.locales.begin(), State.locales.end(),
                        [&](const GuiInputLocale &l) { return ImeLanguageId(l.layout) == ImeLanguageId(layout); }))
            continue;
        GuiInputLocale record = {layout, {}, {}};
        const LCID locale = MAKELCID(ImeLanguageId(layout), SORT_DEFAULT);
        if (primary == kImeChinese && ImeSubLanguage(layout) == SUBLANG_CHINESE_TRADITIONAL) {
            lstrcpynW(record.abbreviation, IndicatorTraditional, 3);
        } else if (primary == kImeChinese && ImeSubLanguage(layout) == SUBLANG_CHINESE_SIMPLIFIED) {
            lstrcpynW(record.abbreviation, IndicatorSimplified, 3);
        } else if (primary == kImeJapanese) {
            lstrcpynW(record.abbreviation, IndicatorJapanese, 3);
        } else if (primary == kImeKorean) {
            lstrcpynW(record.abbreviation, IndicatorKorean, 3);
        } else {
            WCHAR abbreviation[16] = {};
            GetLocaleInfoW(locale, LOCALE_SABBREVLANGNAME, abbreviation, 15);
            record.abbreviation[0] = abbreviation[0];
            record.abbreviation[1] = abbreviation[0] ? static_cast<WCHAR>(towlower(abbreviation[1])) : 0;
        }
        GetLocaleInfoW(locale, LOCALE_SLANGUAGE, record.name, 63);
        State.locales.push_back(record);
    }
}

int ImeStaticMsgProc(HWND window, UINT message, WPARAM wParam, LPARAM *lParam)
{
    if (!State.enabled)
        return 0;
    switch (message) {
    case WM_IME_STARTCOMPOSITION: {
        // A start inside a composition keeps its owner: what that one typed
        // was never committed, and the next composition takes it back.
        GuiImeStore &s = ImeStore();
        s.compositionCaret = 0;
        s.composition.Clear();
        std::memset(s.attributes, 0, sizeof(s.attributes));
        CKivGuiTestEditBox::SetHideCaret(1);
        return 1;
    }
    case WM_IME_SETCONTEXT:
        if (lParam)
            *lParam = 0;
        return 0;
    case WM_ACTIVATEAPP:
        if (wParam)
            ImeRebuildLocaleList();
        return 0;
    case WM_INPUTLANGCHANGE: {
        HKL before = State.layout;
        ImeCheckToggleState();
        // A layout known before and of another language: the first check
        // after start-up only records where the user began.
        if (before && ImePrimaryLanguage(before) != ImePrimaryLanguage(State.layout))
            State.insertOnType = ImePrimaryLanguage(State.layout) == kImeKorean;
        ImeSetupReadingApi();
        if (Bound.ShowReadingWindow) {
            HIMC context = Bound.ImmGetContext(window);
            if (context) {
                Bound.ShowReadingWindow(context, FALSE);
                Bound.ImmReleaseContext(window, context);
            }
        }
        return 0;
    }
    }
    return 0;
}
