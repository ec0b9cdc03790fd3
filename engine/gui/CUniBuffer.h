// One editable line of UTF-16 text, measured through the script-shaping library.
#pragma once

#include <windows.h>
#include <usp10.h>

struct GuiFontNode;

class CUniBuffer {
public:
    // The shaping entry points, bound by name from the system folder; each
    // starts at a stand-by that answers E_NOTIMPL (or null).
    struct Uniscribe {
        HRESULT(WINAPI *ApplyDigitSubstitution)(const SCRIPT_DIGITSUBSTITUTE *, SCRIPT_CONTROL *, SCRIPT_STATE *);
        HRESULT(WINAPI *StringAnalyse)(HDC, const void *, int, int, int, DWORD, int, SCRIPT_CONTROL *,
                                       SCRIPT_STATE *, const int *, SCRIPT_TABDEF *, const BYTE *,
                                       SCRIPT_STRING_ANALYSIS *);
        HRESULT(WINAPI *StringCPtoX)(SCRIPT_STRING_ANALYSIS, int, BOOL, int *);
        HRESULT(WINAPI *StringXtoCP)(SCRIPT_STRING_ANALYSIS, int, int *, int *);
        HRESULT(WINAPI *StringFree)(SCRIPT_STRING_ANALYSIS *);
        const SCRIPT_LOGATTR *(WINAPI *String_pLogAttr)(SCRIPT_STRING_ANALYSIS);
        const int *(WINAPI *String_pcOutChars)(SCRIPT_STRING_ANALYSIS);
    };

    enum : int {
        kMaxUnits = 65535,       // storage, terminator included
        kMirrorBytes = 4096,     // the ANSI copy handed to callers
    };

    explicit CUniBuffer(int initialSize = 1);
    virtual ~CUniBuffer();
    CUniBuffer(const CUniBuffer &) = delete;
    CUniBuffer &operator=(const CUniBuffer &) = delete;

    // Process-wide binding: Binding() is what every buffer calls through;
    // BindUniscribe loads the library while it is not loaded; UseStandbys puts
    // the stand-bys back (the library stays loaded, so nothing rebinds until
    // BindUniscribe is called again).
    static Uniscribe &Binding();
    static bool BindUniscribe();
    static void UseStandbys();

    bool Reserve(int size);
    int GetCapacity() const { return m_capacity; }
    int GetTextSize() const;
    const WCHAR *GetText() const { return m_text ? m_text : L""; }
    void SetFontNode(GuiFontNode *node) { m_fontNode = node; }
    GuiFontNode *GetFontNode() const { return m_fontNode; }

    // Editing. Every change marks the analysis stale.
    WCHAR *At(int index);
    void Clear();
    bool InsertChar(int cp, WCHAR unit);
    bool RemoveChar(int cp);
    bool InsertString(int cp, const WCHAR *text, int count = -1);
    bool RemoveRange(int first, int last);
    bool TruncateAt(int cp);
    bool SetTextW(const WCHAR *text);
    bool SetTextAnsi(const char *text);
    // Removes every occurrence of the unit; true when one went.
    bool RemoveAll(WCHAR unit);

    // A marked run of the text (a composition typed in): every edit moves it
    // with the characters it covers, so it is found in the text whatever
    // moved the caret meanwhile. A character inserted inside it stays out of
    // it, and so does the rest of the run behind that character; setting or
    // clearing the whole text drops it.
    void Mark(int first, int last);
    void Unmark() { m_markFirst = m_markLast = 0; }
    int MarkFirst() const { return m_markFirst; }
    int MarkLast() const { return m_markLast; }
    int MarkLength() const { return m_markLast - m_markFirst; }

    // The text in the system ANSI code page: the copy is cut at a whole
    // character when it would not fit kMirrorBytes; the length is the full
    // byte count with the terminator (0 for an empty text).
    const char *GetTextAnsi();
    int GetAnsiLength() const;

    // Measuring, through an analysis made again only after a change.
    HRESULT Analyse();
    HRESULT CaretToX(int cp, BOOL trailing, int *x);
    HRESULT XToCaret(int x, int *cp, int *trailing);
    int WidthBetween(int cp1, int cp2);
    void PrevWordStop(int cp, int *stop);
    void NextWordStop(int cp, int *stop);

private:
    bool MakeRoom(int units);
    void RefreshMirror();
    // After every edit: the mirror follows, the analysis is stale; true.
    bool Changed();
    // The mark follows an insertion of count units at cp, or a removal of [first, last).
    void MarkInserted(int cp, int count);
    void MarkRemoved(int first, int last);
    bool WordAttributes(int *cp, int *stop, const SCRIPT_LOGATTR **attrs, int *count);

    WCHAR *m_text = nullptr;
    char m_mirror[kMirrorBytes] = {};
    int m_capacity = 0;
    GuiFontNode *m_fontNode = nullptr;
    BYTE m_dirty = 1;
    int m_markFirst = 0, m_markLast = 0;
    SCRIPT_STRING_ANALYSIS m_analysis = nullptr;
};
