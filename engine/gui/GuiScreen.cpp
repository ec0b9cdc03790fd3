// What the GUI reads of the engine root: the interface image scale, the viewport size and the window.
#include "engine/gui/GuiScreen.h"

#include "engine/CKivBase.h"
#include "engine/CKivViewport.h"
#include "engine/gui/CKivGuiSystem.h"
#include "gfx/d3d9/d3d9device.h"

float GuiImageScale()
{
    CKivBase *base = CKivBase::GetInstance();
    float s = base ? base->GetImageScale() : 1.0f;
    return s > 0 ? s : 1.0f;
}

int GuiViewportHeight()
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivViewport *viewport = gui ? gui->GetViewport() : nullptr;
    if (viewport)
        return viewport->GetHeight();
    return static_cast<int>(rwD3D9Driver.present.BackBufferHeight);
}

int GuiViewportWidth()
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivViewport *viewport = gui ? gui->GetViewport() : nullptr;
    if (viewport)
        return viewport->GetWidth();
    return static_cast<int>(rwD3D9Driver.present.BackBufferWidth);
}

HWND GuiEngineWindow()
{
    CKivBase *base = CKivBase::GetInstance();
    return base ? base->GetWindow() : nullptr;
}
