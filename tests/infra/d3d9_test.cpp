// Direct3D 9 and D3DX on the test display: a windowed device on a 1024x768
// popup window clears and reads back its back buffer, the shader assembler
// works, and D3DX fonts draw Hangul text in the game's default face.
#include <windows.h>

#include <d3d9.h>
#include <d3dx9.h>

#include <gtest/gtest.h>

namespace {

const int kWidth = 1024, kHeight = 768;
// Code page 949 text: the face name "돋움" and the word "한글".
const char kDotum[] = "\xb5\xb8\xbf\xf2";
const char kHangul[] = "\xc7\xd1\xb1\xdb";

struct Readback {
    IDirect3DSurface9 *surface = nullptr;
    D3DLOCKED_RECT locked = {};

    ~Readback()
    {
        if (surface) {
            surface->UnlockRect();
            surface->Release();
        }
    }
    D3DCOLOR At(int x, int y) const
    {
        return reinterpret_cast<const DWORD *>(static_cast<const BYTE *>(locked.pBits) +
                                               y * locked.Pitch)[x] & 0x00FFFFFF;
    }
};

class Device : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KivDeviceTest";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, wc.lpszClassName, "device test", WS_POPUP | WS_VISIBLE, 0, 0,
                                 kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
        if (!window)
            return;
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!d3d)
            return;
        D3DPRESENT_PARAMETERS pp = {};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.BackBufferWidth = kWidth;
        pp.BackBufferHeight = kHeight;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        pp.hDeviceWindow = window;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        const DWORD flags[] = {D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED,
                               D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED};
        for (DWORD f : flags) {
            if (SUCCEEDED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, f, &pp,
                                            &device)))
                break;
        }
    }

    static void TearDownTestSuite()
    {
        if (device)
            device->Release();
        if (d3d)
            d3d->Release();
        if (window)
            DestroyWindow(window);
        device = nullptr;
        d3d = nullptr;
        window = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(window, nullptr) << "no window (is DISPLAY set?)";
        ASSERT_NE(d3d, nullptr);
        ASSERT_NE(device, nullptr) << "no Direct3D 9 HAL device";
    }

    // Copies the back buffer into system memory and locks it.
    static void ReadBack(Readback *out)
    {
        IDirect3DSurface9 *back = nullptr;
        ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        HRESULT hr = device->CreateOffscreenPlainSurface(kWidth, kHeight, D3DFMT_X8R8G8B8,
                                                         D3DPOOL_SYSTEMMEM, &out->surface, nullptr);
        if (SUCCEEDED(hr))
            hr = device->GetRenderTargetData(back, out->surface);
        back->Release();
        ASSERT_EQ(hr, D3D_OK);
        ASSERT_EQ(out->surface->LockRect(&out->locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    }

    static HWND window;
    static IDirect3D9 *d3d;
    static IDirect3DDevice9 *device;
};

HWND Device::window;
IDirect3D9 *Device::d3d;
IDirect3DDevice9 *Device::device;

bool Near(D3DCOLOR a, D3DCOLOR b)
{
    for (int shift = 0; shift < 24; shift += 8) {
        int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        if (d < -2 || d > 2)
            return false;
    }
    return true;
}

TEST_F(Device, ClearColourReadsBackFromBackBuffer)
{
    const D3DCOLOR colour = D3DCOLOR_XRGB(0x20, 0x80, 0xC0);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0), D3D_OK);
    Readback image;
    ReadBack(&image);
    const int points[][2] = {{0, 0}, {kWidth - 1, 0}, {kWidth / 2, kHeight / 2}, {kWidth - 1, kHeight - 1}};
    for (const auto &p : points)
        EXPECT_TRUE(Near(image.At(p[0], p[1]), colour & 0xFFFFFF))
            << std::hex << image.At(p[0], p[1]) << " at " << std::dec << p[0] << "," << p[1];
}

TEST_F(Device, ClearOfOneRectangleLeavesTheRest)
{
    const D3DCOLOR outside = D3DCOLOR_XRGB(0, 0, 0), inside = D3DCOLOR_XRGB(0xFF, 0x40, 0x10);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, outside, 1.0f, 0), D3D_OK);
    D3DRECT rect = {100, 50, 300, 150};
    ASSERT_EQ(device->Clear(1, &rect, D3DCLEAR_TARGET, inside, 1.0f, 0), D3D_OK);
    Readback image;
    ReadBack(&image);
    EXPECT_TRUE(Near(image.At(100, 50), inside & 0xFFFFFF));
    EXPECT_TRUE(Near(image.At(299, 149), inside & 0xFFFFFF));
    EXPECT_TRUE(Near(image.At(99, 50), outside));
    EXPECT_TRUE(Near(image.At(300, 149), outside));
    EXPECT_TRUE(Near(image.At(100, 150), outside));
}

TEST_F(Device, AssemblesAndCreatesVertexShader)
{
    const char source[] = "vs_1_1\n"
                          "dcl_position v0\n"
                          "m4x4 oPos, v0, c0\n";
    ID3DXBuffer *code = nullptr, *errors = nullptr;
    HRESULT hr = D3DXAssembleShader(source, sizeof source - 1, nullptr, nullptr, 0, &code, &errors);
    if (errors)
        errors->Release();
    ASSERT_EQ(hr, D3D_OK);
    ASSERT_NE(code, nullptr);
    IDirect3DVertexShader9 *shader = nullptr;
    EXPECT_EQ(device->CreateVertexShader(static_cast<const DWORD *>(code->GetBufferPointer()), &shader),
              D3D_OK);
    if (shader)
        shader->Release();
    code->Release();
}

TEST_F(Device, AssemblerRejectsBadShader)
{
    const char source[] = "vs_1_1\nnot_an_instruction r0\n";
    ID3DXBuffer *code = nullptr, *errors = nullptr;
    EXPECT_TRUE(FAILED(D3DXAssembleShader(source, sizeof source - 1, nullptr, nullptr, 0, &code, &errors)));
    if (code)
        code->Release();
    if (errors)
        errors->Release();
}

TEST_F(Device, FontDrawsHangulInDefaultFace)
{
    ID3DXFont *font = nullptr;
    ASSERT_EQ(D3DXCreateFontA(device, 32, 0, FW_NORMAL, 1, FALSE, HANGUL_CHARSET, OUT_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kDotum, &font),
              D3D_OK);

    // The face must reach a font that has Hangul glyphs.
    WCHAR hangul[2] = {0xD55C, 0xAE00};
    WORD glyphs[2] = {};
    ASSERT_EQ(GetGlyphIndicesW(font->GetDC(), hangul, 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS), 2u);
    EXPECT_NE(glyphs[0], 0xFFFF);
    EXPECT_NE(glyphs[1], 0xFFFF);

    RECT measured = {0, 0, 0, 0};
    EXPECT_GT(font->DrawTextA(nullptr, kHangul, -1, &measured, DT_CALCRECT, 0xFFFFFFFF), 0);
    EXPECT_GT(measured.right, 20);

    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    RECT box = {10, 10, 400, 100};
    EXPECT_GT(font->DrawTextA(nullptr, kHangul, -1, &box, DT_LEFT | DT_TOP | DT_NOCLIP, 0xFFFFFFFF), 0);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    font->Release();

    Readback image;
    ReadBack(&image);
    int lit = 0;
    for (int y = 10; y < 100; ++y)
        for (int x = 10; x < 400; ++x)
            lit += (image.At(x, y) & 0xFF) > 128;
    EXPECT_GT(lit, 50) << "no text drawn";
    int outside = 0;
    for (int x = 0; x < kWidth; ++x)
        outside += image.At(x, 200) != 0;
    EXPECT_EQ(outside, 0);
}

}  // namespace
