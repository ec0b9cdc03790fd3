// Conversation text: a static of ~300 bytes of Korean on 8 lines drawn 1000 frames, beside one
// word-breaking D3DX draw of the same text in the same rectangle.
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiSystem.h"
#include "gfx/core/camera.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9window.h"
#include "engine/gui/backbuffer.h"
#include "bench/benchmode.h"

namespace {

const int kFrames = 1000;

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Syllables in words of two to four, 300 bytes.
std::string Conversation()
{
    std::string text;
    unsigned state = 7;
    while (text.size() < 296) {
        state = state * 1103515245u + 12345u;
        const int word = 2 + (state >> 16) % 3;
        for (int i = 0; i < word && text.size() < 298; i++) {
            state = state * 1103515245u + 12345u;
            text += static_cast<char>(0xB0 + (state >> 16) % 0x18);
            text += static_cast<char>(0xA1 + (state >> 8) % 0x5D);
        }
        text += ' ';
    }
    return text;
}

template <typename Draw> double Time(RwCamera *camera, Draw draw)
{
    RwRGBA black = {0, 0, 0, 255};
    const double start = Now();
    for (int i = 0; i < kFrames; i++) {
        RwCameraClear(camera, &black, rwCAMERACLEARIMAGE);
        RwCameraBeginUpdate(camera);
        draw();
        RwCameraEndUpdate(camera);
    }
    CopyBackBuffer(rwD3D9Driver.device);   // waits for the frames queued
    return Now() - start;
}

} // namespace

int main()
{
    KivBenchSayDirect3DMode(true);
    CKivBase *base = new CKivBase;
    HWND window = KivTestCreateWindow(1024, 768, "KivStaticBench");
    if (!base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "bench", 0, 0)) {
        fprintf(stderr, "engine start failed\n");
        return 1;
    }
    base->CreateFonts("\xB5\xB8\xBF\xF2");
    CKivGuiSystem *gui = base->GetGuiSystem();
    const std::string text = Conversation();
    CKivGuiDialog *dialog = new CKivGuiDialog(1);
    dialog->SetLocation(100, 100);
    dialog->SetSize(400, 300);
    CKivGuiStatic *line = new CKivGuiStatic(dialog);
    line->Create(1, 0, 0, 270, 200, text.c_str());
    line->SetFont("DefaultFont_Conversation");
    line->SetLineSpacing(5);
    ID3DXFont *font = gui->GetFont("DefaultFont_Conversation")->GetNode()->font;
    RwCamera *camera = base->GetDefaultCamera()->GetCamera();
    RECT rect = {100, 100, 370, 300};
    RECT measured = rect;
    font->DrawTextA(nullptr, text.c_str(), -1, &measured, DT_WORDBREAK | DT_CALCRECT, 0);

    const double statics = Time(camera, [&] { line->Render(0, 0); });
    const double direct =
        Time(camera, [&] { font->DrawTextA(nullptr, text.c_str(), -1, &rect, DT_WORDBREAK, 0xFFFFFFFF); });
    printf("%d bytes, %d lines by D3DX\n", static_cast<int>(text.size()),
           static_cast<int>((measured.bottom - measured.top) / 17));
    printf("static: %.3f ms/frame, D3DX word break: %.3f ms/frame, ratio %.2f\n", statics * 1000 / kFrames,
           direct * 1000 / kFrames, statics / direct);
    delete dialog;
    base->Shutdown();
    delete base;
    DestroyWindow(window);
    return 0;
}
