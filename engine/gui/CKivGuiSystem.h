// The root of the engine GUI: image cache, dialogs in layers and modal kinds, named fonts, message routing.
//
// The GUI's calls keep the engine's rule: no exception leaves them (message
// handling least of all, which runs inside the window procedure); destructors
// and releases find what they hold without allocating; a call that runs out of
// memory returns its failure value (0 or null; a call without one does
// nothing, a message goes unhandled) and leaves its objects whole.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "engine/gui/CKivGuiResourceManager.h"
#include "engine/gui/GuiText.h"

class CKivCamera;
class CKivViewport;
class CKivGuiDialog;
class CKivGuiControl;
class CKivGuiDxFont;
class CKivGuiSprite;
class CKivGuiTooltipManager;

class CKivGuiSystem {
public:
    enum : int { kLayers = 4, kModalKinds = 4 };

    struct ImageEntry {
        CKivGuiSprite *sprite;   // owned; empty when its image could not be read
        int count;
    };
    typedef void (*RenderCallback)(int argument);
    // Shows the fatal image error; the platform's message box unless replaced.
    typedef int(WINAPI *MessageBoxBinding)(HWND, const char *, const char *, UINT);

    CKivGuiSystem();
    virtual ~CKivGuiSystem();
    CKivGuiSystem(const CKivGuiSystem &) = delete;
    CKivGuiSystem &operator=(const CKivGuiSystem &) = delete;

    // The one GUI system of the process (the last constructed), or null.
    static CKivGuiSystem *GetInstance();
    static void SetMessageBoxBinding(MessageBoxBinding binding);

    virtual int SetViewport(CKivViewport *viewport);
    virtual int ReleaseAll();
    virtual void Update(float elapsed);
    virtual void Render(float elapsed);
    CKivViewport *GetViewport() const { return m_viewport; }
    CKivCamera *SetCamera(CKivCamera *camera);
    CKivCamera *GetCamera() const { return m_camera; }
    // Makes the tooltip manager anew, then the named fonts.
    int CreateFonts(const char *face);
    CKivGuiTooltipManager *GetTooltipManager() const { return m_tooltips; }
    // Nonzero when the GUI consumed the message.
    int MsgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Images, cached by the lower-cased path; a failed load is reported once
    // and stays cached.
    ImageEntry *LoadImage(int id, const char *path, const char *file, const char *directory);
    ImageEntry *FindImageEntry(const char *path);
    CKivGuiSprite *FindImage(const char *path);
    void ReleaseImage(const char *path);
    // Releases the image under the held path, loads the new one (none for an
    // empty path) and holds its path.
    int ReplaceImage(std::string *held, int id, const char *path);

    // Fonts.
    int AddFont(const char *idString, const char *face, const char *name, int height, int weight, DWORD textColour,
                int outline, DWORD outlineColour);
    CKivGuiDxFont *GetFont(const char *name);
    int HasResource(const char *name) const { return m_resources.HasResource(name); }
    CKivGuiResourceManager &GetResourceManager() { return m_resources; }

    // Dialog registry.
    int AddDialog(CKivGuiDialog *dialog);
    int RemoveDialog(CKivGuiDialog *dialog);
    bool IsRegistered(const CKivGuiDialog *dialog) const;
    CKivGuiDialog *FindDialog(int id) const;
    void SetActiveDialog(CKivGuiDialog *dialog) { m_active = dialog; }
    CKivGuiDialog *GetActiveDialog() const { return m_active; }
    int HasOpenDialogOfKind(int kind) const;
    CKivGuiDialog *FindDialogAt();
    CKivGuiDialog *GetMouseOverDialog() const { return m_hovered; }
    CKivGuiControl *GetMouseOverControl() const;
    void GetMousePosition(int *x, int *y) const;
    int IsMouseBlocked() const { return m_mouseBlocked; }
    // The game blocks world picking with 1 while the mouse is its own.
    void SetMouseBlocked(int blocked) { m_mouseBlocked = blocked; }
    void AddRenderCallback(RenderCallback function, int argument);
    void RemoveRenderCallback(RenderCallback function);
    const std::vector<CKivGuiDialog *> &GetLayer(int layer) const { return m_layers[layer & 3]; }

private:
    static bool IsOpen(const CKivGuiDialog *dialog);
    // An open dialog of the kind listed before the given one.
    bool OpenBefore(int kind, const CKivGuiDialog *dialog) const;
    CKivCamera *BeginCamera();
    void RenderModals();
    int Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::map<std::string, ImageEntry, GuiKeyLess> m_images;   // keyed by lower-case path
    unsigned m_messagesShown = 0;   // missing images' message boxes, ever
    CKivGuiDialog *m_active = nullptr;
    std::vector<CKivGuiDialog *> m_layers[kLayers];      // front: most recently added
    std::vector<CKivGuiDialog *> m_kinds[kModalKinds];
    CKivCamera *m_camera = nullptr;
    std::vector<std::pair<RenderCallback, int>> m_renderCallbacks;
    int m_mouseBlocked = 0;
    int m_mouseX = 0;
    int m_mouseY = 0;
    CKivGuiDialog *m_hovered = nullptr;
    CKivGuiResourceManager m_resources;
    CKivViewport *m_viewport = nullptr;
    CKivGuiTooltipManager *m_tooltips = nullptr;
};
