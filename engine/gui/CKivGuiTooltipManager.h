// The tooltip manager: skins, icons, click signs and the dimming bar, and the live tooltips by kind.
#pragma once

#include <vector>

#include "engine/CBaseManager.h"
#include "engine/gui/CKivSprite.h"

struct RwAtomic;
class CKivCamera;
class CKivGuiTooltip;

// What a followed tooltip needs of the world: the model's part and the camera that sees it.
struct GuiFollowTarget {
    RwAtomic *atomic;
    CKivCamera *camera;
};
// Fills the target of a model and part name; 0 when either is not in the current world.
typedef int (*GuiFollowResolver)(const char *model, const char *part, GuiFollowTarget *out);

class CKivGuiTooltipManager : public CBaseManager<CKivGuiTooltipManager> {
public:
    enum : int { kKinds = 6, kIcons = 12 };

    // Loads every image from "Data/Interface/Tooltip/"; missing ones are left out.
    CKivGuiTooltipManager();
    ~CKivGuiTooltipManager() override;

    static CKivGuiTooltipManager *GetInstance() { return CBaseManager<CKivGuiTooltipManager>::GetInstance(); }

    // A tooltip with the id is initialised again; null for a kind outside 0-5.
    CKivGuiTooltip *AddTooltip(int kind, int id, int x, int y, int width, const char *text, int anchor,
                               float lifetime, float maxAlpha, int margin, int icon, int value);
    CKivGuiTooltip *AddFollowingTooltip(int kind, int id, const char *model, const char *part, int width,
                                        const char *text, int anchor, float lifetime, float maxAlpha, int margin,
                                        int icon);
    CKivGuiTooltip *FindTooltip(int id) const;
    CKivGuiTooltip *FindTooltip(int id, const char *model, const char *part) const;
    int GetCount() const { return static_cast<int>(m_tooltips.size()); }

    // Deletes the tooltips whose update answers false.
    void Update(float elapsed);
    void RenderKind(float elapsed, int kind);
    // Darkens the screen under modal dialogs.
    void DrawDimmer();
    void SetSkinAlpha(int kind, float alpha);
    // Null for a kind outside 0-5.
    static const char *GetFontName(int kind);
    CKivSprite *GetSkin(int kind);
    CKivSprite &GetIcons() { return m_icons; }
    CKivSprite &GetClickSigns() { return m_clicks; }
    RwCamera *GetCamera() const { return m_bar.GetCamera(); }

    // Followed tooltips find their part through the engine's current world, or through
    // a lookup of the caller's own (NULL puts the world lookup back).
    static void SetFollowResolver(GuiFollowResolver resolver);
    static GuiFollowResolver GetFollowResolver();

private:
    CKivGuiTooltip *Adopt(CKivGuiTooltip *tooltip);
    void Drop(CKivGuiTooltip *tooltip);

    std::vector<CKivGuiTooltip *> m_tooltips;
    CKivSprite m_skins[kKinds];
    CKivSprite m_bar;
    CKivSprite m_icons;
    CKivSprite m_clicks;
};
