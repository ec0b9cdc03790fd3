// The GUI tests' host: an engine root on a Unicode window whose procedure hands messages to the GUI system,
// skin images written as PNGs, frames drawn under the render lock and read back.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiSystem.h"
#include "gui_png.h"

// "돋움" in code page 949.
extern const char GuiDotum[];

// Offered every queued key message before the window: the scripted IME.
extern std::function<bool(const MSG &)> KeyFilter;
// Dispatches every queued message.
void Pump();

class GuiHost : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
    static inline CKivBase *base = nullptr;
    static inline HWND window = nullptr;
};

class GuiFrame : public ::testing::Test {
protected:
    static CKivGuiSystem *gui() { return GuiHost::base->GetGuiSystem(); }
    // A registered dialog, deleted after the test.
    CKivGuiDialog *NewDialog(int id, int x, int y, int w, int h);
    void TearDown() override;
    // Clears to black and draws the GUI (tooltips included) under the render lock.
    void Frame(float elapsed = 0);
    // Clears to black and runs the drawing under the render lock.
    void FrameWith(const std::function<void()> &draw);
    DWORD Pixel(int x, int y) const { return pixels[y * 1024 + x] & 0xFFFFFF; }
    // The bounding box of pixels of the colour inside the region, within the tolerance per channel.
    RECT Box(DWORD colour, int tolerance = 8, RECT region = {0, 0, 1024, 768}) const;
    // A message sent to the window as the system would, at client point (x, y).
    LRESULT Send(UINT message, int x, int y, WPARAM wParam = 0);

    std::vector<DWORD> pixels;
    std::vector<CKivGuiDialog *> dialogs;
};

std::string RectText(const RECT &r);
