// The UTF-16 text buffer of the edit boxes and fonts: edits, growth and measuring.
#include "engine/gui/CUniBuffer.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "engine/gui/GuiFontNode.h"

namespace {

HRESULT WINAPI StandbyApplyDigitSubstitution(const SCRIPT_DIGITSUBSTITUTE *, SCRIPT_CONTROL *, SCRIPT_STATE *)
{
    return E_NOTIMPL;
}
HRESULT WINAPI StandbyStringAnalyse(HDC, const void *, int, int, int, DWORD, int, SCRIPT_CONTROL *, SCRIPT_STATE *,
                                    const int *, SCRIPT_TABDEF *, const BYTE *, SCRIPT_STRING_ANALYSIS *)
{
    return E_NOTIMPL;
}
HRESULT WINAPI StandbyStringCPtoX(SCRIPT_STRING_ANALYSIS, int, BOOL, int *)
{
    return E_NOTIMPL;
}
HRESULT WINAPI StandbyStringXtoCP(SCRIPT_STRING_ANALYSIS, int, int *, int *)
{
    return E_NOTIMPL;
}
HRESULT WINAPI StandbyStringFree(SCRIPT_STRING_ANALYSIS *)
{
    return E_NOTIMPL;
}
const SCRIPT_LOGATTR *WINAPI StandbyStringLogAttr(SCRIPT_STRING_ANALYSIS)
{
    return nullptr;
}
const int *WINAPI StandbyStringOutChars(SCRIPT_STRING_ANALYSIS)
{
    return nullptr;
}

// Constant, so that buffers constructed before main find the binding already set.
constexpr CUniBuffer::Uniscribe Standbys = {
    StandbyApplyDigitSubstitution, StandbyStringAnalyse, StandbyStringCPtoX, StandbyStringXtoCP,
    StandbyStringFree,             StandbyStringLogAttr, StandbyStringOutChars,
};
CUniBuffer::Uniscribe Bound = Standbys;
HMODULE Usp10;

// Only entry points the library exports replace their stand-bys.
template <class F> void Take(F &slot, const char *name)
{
    FARPROC found = GetProcAddress(Usp10, name);
    if (found)
        slot = reinterpret_cast<F>(found);
}

// ANSI bytes of the first units of a text, without terminator.
int AnsiBytes(const WCHAR *text, int units)
{
    return units > 0 ? WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr) : 0;
}

} // namespace

CUniBuffer::Uniscribe &CUniBuffer::Binding()
{
    return Bound;
}

bool CUniBuffer::BindUniscribe()
{
    if (Usp10 == nullptr) {
        // From the system folder only, never from beside the program.
        char path[MAX_PATH + 1];
        static const char name[] = "\\usp10.dll";
        UINT length = GetSystemDirectoryA(path, sizeof(path));
        if (length == 0 || length + (sizeof(name) - 1) >= sizeof(path))
            return false;
        std::memcpy(path + length, name, sizeof(name));
        Usp10 = LoadLibraryA(path);
        if (Usp10 == nullptr)
            return false;
    }
    Take(Bound.ApplyDigitSubstitution, "ScriptApplyDigitSubstitution");
    Take(Bound.StringAnalyse, "ScriptStringAnalyse");
    Take(Bound.StringCPtoX, "ScriptStringCPtoX");
    Take(Bound.StringXtoCP, "ScriptStringXtoCP");
    Take(Bound.StringFree, "ScriptStringFree");
    Take(Bound.String_pLogAttr, "ScriptString_pLogAttr");
    Take(Bound.String_pcOutChars, "ScriptString_pcOutChars");
    return true;
}

void CUniBuffer::UseStandbys()
{
    Bound = Standbys;
}

CUniBuffer::CUniBuffer(int initialSize)
{
    if (Usp10 == nullptr)
        BindUniscribe();
    if (initialSize >= 1)
        Reserve(initialSize);
}

CUniBuffer::~CUniBuffer()
{
    if (m_analysis)
        Bound.StringFree(&m_analysis);
    delete[] m_text;
}

bool CUniBuffer::Reserve(int size)
{
    if (m_capacity >= kMaxUnits)
        return false;
    // Any size below 1 asks for the default step, like -1.
    int grown;
    if (size >= 1 && size >= 2 * m_capacity)
        grown = size > kMaxUnits / 2 ? kMaxUnits : 2 * size;
    else
        grown = m_capacity ? 2 * m_capacity : 1024;
    grown = std::min<int>(grown, kMaxUnits);

    WCHAR *units = new (std::nothrow) WCHAR[grown];
    if (units == nullptr)
        return false;
    std::memset(units, 0, grown * sizeof(WCHAR));
    if (m_text) {
        std::memcpy(units, m_text, m_capacity * sizeof(WCHAR));
        delete[] m_text;
    }
    m_text = units;
    m_capacity = grown;
    return true;
}

bool CUniBuffer::MakeRoom(int units)
{
    while (m_capacity < units) {
        if (!Reserve(-1))
            return false;
    }
    return true;
}

int CUniBuffer::GetTextSize() const
{
    return m_text ? lstrlenW(m_text) : 0;
}

WCHAR *CUniBuffer::At(int index)
{
    if (m_text == nullptr || index < 0 || index > GetTextSize())
        return nullptr;
    m_dirty = 1;
    return m_text + index;
}

void CUniBuffer::Clear()
{
    Unmark();
    if (m_text)
        m_text[0] = 0;
    std::memset(m_mirror, 0, sizeof(m_mirror));
    m_dirty = 1;
}

bool CUniBuffer::InsertChar(int cp, WCHAR unit)
{
    int length = GetTextSize();
    if (cp < 0 || cp > length || length + 1 >= kMaxUnits)
        return false;
    if (length + 1 >= m_capacity && !Reserve(-1))
        return false;
    std::memmove(m_text + cp + 1, m_text + cp, (length - cp + 1) * sizeof(WCHAR));
    m_text[cp] = unit;
    MarkInserted(cp, 1);
    return Changed();
}

bool CUniBuffer::RemoveChar(int cp)
{
    int length = GetTextSize();
    if (length == 0 || cp < 0 || cp >= length)
        return false;
    std::memmove(m_text + cp, m_text + cp + 1, (length - cp) * sizeof(WCHAR));
    MarkRemoved(cp, cp + 1);
    return Changed();
}

bool CUniBuffer::InsertString(int cp, const WCHAR *text, int count)
{
    if (text == nullptr || cp < 0 || count < -1)
        return false;
    int length = GetTextSize();
    if (cp > length)
        return false;
    if (count == -1)
        count = lstrlenW(text);
    if (count >= kMaxUnits - length)
        return false;
    // Text taken from this buffer would not survive the growth below.
    std::vector<WCHAR> own;
    if (m_text && text >= m_text && text < m_text + m_capacity) {
        try {
            own.assign(text, text + count);
        } catch (const std::exception &) {
            return false;
        }
        text = own.data();
    }
    if (length + count >= m_capacity && !Reserve(length + count + 1))
        return false;
    std::memmove(m_text + cp + count, m_text + cp, (length - cp + 1) * sizeof(WCHAR));
    std::memcpy(m_text + cp, text, count * sizeof(WCHAR));
    MarkInserted(cp, count);
    return Changed();
}

bool CUniBuffer::RemoveRange(int first, int last)
{
    int length = GetTextSize();
    if (length == 0 || first < 0 || first >= length || last < first || last > length)
        return false;
    int removed = last - first;
    std::memmove(m_text + first, m_text + last, (length - last + 1) * sizeof(WCHAR));
    std::memset(m_text + length - removed + 1, 0, removed * sizeof(WCHAR));
    MarkRemoved(first, last);
    return Changed();
}

bool CUniBuffer::TruncateAt(int cp)
{
    int length = GetTextSize();
    if (length == 0 || cp < 0 || cp >= length)
        return false;
    std::memset(m_text + cp, 0, (length - cp) * sizeof(WCHAR));
    MarkRemoved(cp, length);
    return Changed();
}

bool CUniBuffer::SetTextW(const WCHAR *text)
{
    if (text == nullptr)
        return false;
    int length = lstrlenW(text);
    // Text from inside this buffer already fits, so it is never moved away.
    if (length + 1 >= kMaxUnits || !MakeRoom(length + 1))
        return false;
    std::memmove(m_text, text, (length + 1) * sizeof(WCHAR));
    Unmark();
    return Changed();
}

bool CUniBuffer::SetTextAnsi(const char *text)
{
    // The limit counts bytes, as the edit boxes do.
    if (text == nullptr || lstrlenA(text) + 1 >= kMaxUnits)
        return false;
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::vector<WCHAR> wide;
    try {
        wide.assign(units > 0 ? units : 1, 0);
    } catch (const std::exception &) {
        return false;
    }
    if (units > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    return SetTextW(wide.data());
}

bool CUniBuffer::RemoveAll(WCHAR unit)
{
    bool removed = false;
    for (int i = GetTextSize() - 1; i >= 0; i--)
        if (m_text[i] == unit)
            removed = RemoveRange(i, i + 1) || removed;
    return removed;
}

void CUniBuffer::Mark(int first, int last)
{
    const int length = GetTextSize();
    m_markFirst = std::max(0, std::min(first, length));
    m_markLast = std::max(m_markFirst, std::min(last, length));
}

void CUniBuffer::MarkInserted(int cp, int count)
{
    if (cp <= m_markFirst) {
        m_markFirst += count;
        m_markLast += count;
    } else if (cp < m_markLast) {
        m_markLast = cp;
    }
}

void CUniBuffer::MarkRemoved(int first, int last)
{
    auto follow = [first, last](int p) { return p <= first ? p : p >= last ? p - (last - first) : first; };
    m_markFirst = follow(m_markFirst);
    m_markLast = follow(m_markLast);
}

bool CUniBuffer::Changed()
{
    RefreshMirror();
    m_dirty = 1;
    return true;
}

void CUniBuffer::RefreshMirror()
{
    int units = GetTextSize();
    if (AnsiBytes(m_text, units) >= kMirrorBytes) {
        // The longest start that fits, never ending inside a surrogate pair.
        int fits = 0, over = units;
        while (over - fits > 1) {
            int mid = fits + (over - fits) / 2;
            (AnsiBytes(m_text, mid) < kMirrorBytes ? fits : over) = mid;
        }
        units = fits;
        if (units > 0 && IS_HIGH_SURROGATE(m_text[units - 1]))
            units--;
    }
    int bytes = units > 0 ? WideCharToMultiByte(CP_ACP, 0, m_text, units, m_mirror, kMirrorBytes - 1, nullptr, nullptr)
                          : 0;
    std::memset(m_mirror + bytes, 0, kMirrorBytes - bytes);
}

const char *CUniBuffer::GetTextAnsi()
{
    RefreshMirror();
    return m_mirror;
}

int CUniBuffer::GetAnsiLength() const
{
    if (GetTextSize() == 0)
        return 0;
    return WideCharToMultiByte(CP_ACP, 0, m_text, -1, nullptr, 0, nullptr, nullptr);
}

HRESULT CUniBuffer::Analyse()
{
    if (m_analysis) {
        Bound.StringFree(&m_analysis);
        m_analysis = nullptr;
    }
    SCRIPT_CONTROL control = {};
    SCRIPT_STATE state = {};
    Bound.ApplyDigitSubstitution(nullptr, &control, &state);
    HDC dc = m_fontNode && m_fontNode->font ? m_fontNode->font->GetDC() : nullptr;

    // The terminator is analysed too, so the caret can stand behind the text.
    int length = GetTextSize();
    HRESULT hr = Bound.StringAnalyse(dc, GetText(), length + 1, length * 3 / 2 + 16, -1,
                                     SSA_BREAK | SSA_GLYPHS | SSA_FALLBACK | SSA_LINK, 0, &control, &state, nullptr,
                                     nullptr, nullptr, &m_analysis);
    if (SUCCEEDED(hr))
        m_dirty = 0;
    else
        m_analysis = nullptr;
    return hr;
}

HRESULT CUniBuffer::CaretToX(int cp, BOOL trailing, int *x)
{
    if (x == nullptr)
        return E_POINTER;
    *x = 0;
    if (m_dirty) {
        HRESULT hr = Analyse();
        if (FAILED(hr))
            return hr;
    }
    if (cp < 0 || cp > GetTextSize())
        return E_INVALIDARG;
    return Bound.StringCPtoX(m_analysis, cp, trailing, x);
}

HRESULT CUniBuffer::XToCaret(int x, int *cp, int *trailing)
{
    if (cp == nullptr || trailing == nullptr)
        return E_POINTER;
    *cp = 0;
    *trailing = 0;
    HRESULT hr = m_dirty ? Analyse() : S_OK;
    if (SUCCEEDED(hr))
        hr = Bound.StringXtoCP(m_analysis, x, cp, trailing);
    // Left of the text: its start; right of it: behind its last unit.
    int length = GetTextSize();
    if (*cp < 0) {
        *cp = 0;
        *trailing = 0;
    } else if (*cp > length) {
        *cp = length;
        *trailing = 1;
    }
    return hr;
}

int CUniBuffer::WidthBetween(int cp1, int cp2)
{
    int x1 = 0, x2 = 0;
    CaretToX(cp1, FALSE, &x1);
    CaretToX(cp2, FALSE, &x2);
    return x2 - x1;
}

bool CUniBuffer::WordAttributes(int *cp, int *stop, const SCRIPT_LOGATTR **attrs, int *count)
{
    // Until an answer is found the stop is where the search starts, inside the text.
    if (stop == nullptr)
        return false;
    *cp = std::max(0, std::min(*cp, GetTextSize()));
    *stop = *cp;
    if (m_dirty && FAILED(Analyse()))
        return false;
    *attrs = Bound.String_pLogAttr(m_analysis);
    const int *analysed = Bound.String_pcOutChars(m_analysis);
    if (*attrs == nullptr || analysed == nullptr || *analysed <= 0)
        return false;
    *count = *analysed;
    return true;
}

void CUniBuffer::PrevWordStop(int cp, int *stop)
{
    const SCRIPT_LOGATTR *a;
    int n;
    if (!WordAttributes(&cp, stop, &a, &n))
        return;
    int i = std::min(cp - 1, n - 1);
    while (i > 0) {
        if (a[i].fWordStop || (!a[i].fWhiteSpace && a[i - 1].fWhiteSpace))
            break;
        i--;
    }
    *stop = std::max(i, 0);
}

void CUniBuffer::NextWordStop(int cp, int *stop)
{
    const SCRIPT_LOGATTR *a;
    int n;
    if (!WordAttributes(&cp, stop, &a, &n))
        return;
    for (int i = std::min(cp + 1, n); i < n - 1; i++) {
        if (a[i].fWordStop) {
            *stop = i;
            return;
        }
        if (a[i].fWhiteSpace && !a[i + 1].fWhiteSpace) {
            *stop = i + 1;
            return;
        }
    }
    *stop = n - 1;
}
