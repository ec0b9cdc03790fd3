// A tooltip: a tiled, faded text balloon standing at a point or following a model's part; and the notice.
#pragma once

#include <string>

class CKivGuiDialog;
class CKivSprite;

class CKivGuiTooltip {
public:
    enum : int { kTextBytes = 1000 };

    CKivGuiTooltip();
    CKivGuiTooltip(const CKivGuiTooltip &) = delete;
    CKivGuiTooltip &operator=(const CKivGuiTooltip &) = delete;

    // Finds the point of the model's part, then lays out there. 0 when the
    // kind is not one of 0-5.
    virtual int InitFollowing(int kind, int id, const char *model, const char *part, int width, const char *text,
                              int anchor, float lifetime, float maxAlpha, int margin, int icon);
    // Lays out the text in line statics and tiles and places the box.
    virtual int Init(int kind, int id, int x, int y, int width, const char *text, int anchor, float lifetime,
                     float maxAlpha, int margin, int icon, int value);
    virtual ~CKivGuiTooltip();

    // Fades and follows; false once it has faded out or lost its model.
    bool Update(float elapsed);
    void Render(float elapsed);

    void SetDownArrow(int flag);
    void SetDownLeftArrow(int flag);
    void SetRightArrow(int flag);
    void SetFollowMode(int mode) { m_followMode = mode; }
    void SetFollowOffset(int x, int y) { m_followX = x; m_followY = y; }
    void GetSize(int *width, int *height) const;
    void GetPosition(int *x, int *y) const;
    int GetID() const { return m_id; }
    int GetKind() const { return m_kind; }
    int GetIcon() const { return m_icon; }
    float GetAlpha() const { return m_alpha; }
    float GetAge() const { return m_age; }
    int GetColumns() const { return m_columns; }
    int GetRows() const { return m_rows; }
    int GetBoxWidth() const { return m_boxWidth; }
    int GetBoxHeight() const { return m_boxHeight; }
    const char *GetText() const { return m_text; }
    const std::string &GetModelName() const { return m_model; }
    const std::string &GetPartName() const { return m_part; }
    CKivGuiDialog *GetDialog() const { return m_dialog; }

protected:
    // Notices centre their lines in the given width and indent for an icon.
    int m_notice = 0;

private:
    // The followed part's screen point; false when anything is missing or out of view.
    bool Follow(int *x, int *y) const;
    void Place(int x, int y);
    // False when memory ran out for a line.
    bool Layout();
    void RenderTiles();
    void RenderTile(CKivSprite *skin, int row, int column, int viewportHeight);
    // The first and last of count tiles from origin that can reach a screen of that size (last < first: none).
    static void VisibleTiles(int origin, int tile, int count, int screen, int slack, int *first, int *last);

    int m_id = 0;
    int m_kind = 0;
    int m_anchor = 0;
    int m_followMode = 1;
    int m_icon = -1;
    float m_age = 0;
    float m_lifetime = 0;
    int m_columns = 0, m_rows = 0;
    int m_tileWidth = 0, m_tileHeight = 0;
    int m_arrowWidth = 0, m_arrowHeight = 0;
    int m_rightArrowWidth = 0, m_rightArrowHeight = 0;
    int m_margin = 0;
    int m_x = 0, m_y = 0;
    int m_width = 0;
    int m_boxWidth = 0, m_boxHeight = 0;
    int m_downArrow = 0, m_downLeftArrow = 0, m_rightArrow = 0;
    float m_maxAlpha = 1;
    float m_alpha = 0;
    float m_extraHeight = 0, m_extraWidth = 0;
    int m_followX = 0, m_followY = 0;
    CKivGuiDialog *m_dialog = nullptr;
    char m_text[kTextBytes] = {};
    std::string m_model;
    std::string m_part;
    int m_value = 0;
    // Where a click sign goes: by the bottom-right piece.
    float m_clickX = 0, m_clickY = 0;
};

class CKivGuiTooltipNotice : public CKivGuiTooltip {
public:
    CKivGuiTooltipNotice() { m_notice = 1; }
};
