// The static text control: word-wrapped lines in a named font over a background element or image.
#pragma once

#include <string>
#include <vector>

#include "engine/gui/CKivGuiControl.h"

class CKivGuiDxFont;

class CKivGuiStatic : public CKivGuiControl {
public:
    enum : int { kType = 2 };

    explicit CKivGuiStatic(CKivGuiDialog *dialog);
    ~CKivGuiStatic() override;

    void Render(float elapsed, int unused) override;
    int CanHaveFocus() override { return 0; }
    void SetAlpha(float alpha) override;

    // 0 (font unchanged) when the GUI system has no font of that name.
    int SetFont(const char *name);
    CKivGuiDxFont *GetFont() const { return m_font; }
    void SetTextFormat(int horizontal, int vertical);
    void SetTextColor(DWORD argb) { m_textColour = argb; }
    int SetBackgroundElement(int element);
    int GetBackgroundElement() const { return m_backgroundElement; }
    int SetBackgroundImage(const char *path);
    // Null: the image fills the control.
    void SetBackgroundScale(const float *scale);
    void SetSingleLine(int flag) { m_singleLine = flag; }
    void SetLineSpacing(int pixels) { m_lineSpacing = pixels; }
    float GetTextWidth();
    float GetFontHeight();
    // Bytes of the next line of text at this control's width. A "\\n"
    // separator that ends a fitting line is zeroed in place and counted. Never
    // 0 for a non-empty text: a line takes at least one whole character.
    int GetLineLength(char *text);

private:
    // The lines of the text at the current width and font, kept until either changes.
    const std::vector<std::string> &Lines();

    std::string m_fontName;
    std::string m_backgroundPath;
    int m_horizontal = 0;
    int m_vertical = 1;
    CKivGuiDxFont *m_font = nullptr;
    DWORD m_textColour = 0;
    int m_backgroundElement = -1;
    int m_scaleFlag = 1;
    float m_scale[2] = {1, 1};
    int m_singleLine = 0;
    int m_lineSpacing = 5;

    std::vector<std::string> m_lines;
    std::string m_linesText;
    int m_linesWidth = -1;
    CKivGuiDxFont *m_linesFont = nullptr;
};
