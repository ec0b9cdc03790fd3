// What the GUI reads of the engine root: the interface image scale, the viewport size and the window.
#pragma once

#include <windows.h>

// The interface image scale (1.0 without an engine root).
float GuiImageScale();

// Height in pixels of the GUI system's viewport; without one, the back buffer's.
int GuiViewportHeight();
// Width in pixels of the GUI system's viewport; without one, the back buffer's.
int GuiViewportWidth();

// The engine's window (null without an engine root).
HWND GuiEngineWindow();
