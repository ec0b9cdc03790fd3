// What the GUI reads of the engine root: the interface image scale and the viewport height.
#pragma once

// The interface image scale (1.0 without an engine root).
float GuiImageScale();

// Height in pixels of the GUI system's viewport; without one, the back buffer's.
int GuiViewportHeight();
