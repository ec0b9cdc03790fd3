// The GUI's font: creation on the driver's device, colours, drawing and measuring.
#include "engine/gui/CKivGuiDxFont.h"

#include <new>

#include "engine/gui/CUniBuffer.h"
#include "engine/gui/GuiSums.h"
#include "engine/gui/GuiText.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"

namespace {

CKivGuiDxFont::ViewportHeightSource HeightSource;

int BackBufferHeight(void)
{
    return static_cast<int>(rwD3D9Driver.present.BackBufferHeight);
}

// Truncation toward zero that stays defined for values no pixel can have.
int Truncate(float value)
{
    if (!(value > -1e9f))
        return value != value ? 0 : -1000000000;
    return value < 1e9f ? static_cast<int>(value) : 1000000000;
}

// A colour channel as a byte: times 255, plus 0.5 to round or 0 to truncate.
DWORD ChannelByte(float channel, float bias)
{
    if (!(channel > 0))
        return 0;
    return channel >= 1 ? 255 : static_cast<DWORD>(channel * 255 + bias);
}

// The depth test off for the text, through the driver's cache so that the
// value the caller had is what the device holds afterwards.
class DepthTestOff {
public:
    DepthTestOff()
    {
        RwD3D9GetRenderState(D3DRS_ZENABLE, &m_found);
        RwD3D9SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        RwD3D9FlushRenderStates();
    }
    ~DepthTestOff()
    {
        RwD3D9SetRenderState(D3DRS_ZENABLE, m_found);
        RwD3D9FlushRenderStates();
    }

private:
    RwUInt32 m_found = D3DZB_TRUE;
};

} // namespace

CKivGuiDxFont::CKivGuiDxFont()
    : m_textColour(1, 1, 1, 1), m_outlineColour(1, 1, 1, 1), m_measure(new (std::nothrow) CUniBuffer(1))
{
}

CKivGuiDxFont::~CKivGuiDxFont()
{
    // A font deleted without Release would keep its D3DX font for good.
    Release();
    if (m_measure) {
        m_measure->Clear();
        delete m_measure;
    }
}

DWORD CKivGuiDxFont::ToArgb(const D3DXCOLOR &c)
{
    return ChannelByte(c.a, 0.5f) << 24 | ChannelByte(c.r, 0.5f) << 16 | ChannelByte(c.g, 0.5f) << 8 |
           ChannelByte(c.b, 0.5f);
}

D3DXCOLOR CKivGuiDxFont::FromArgb(DWORD argb)
{
    const float k = 1.0f / 255.0f;
    return D3DXCOLOR(((argb >> 16) & 0xFF) * k, ((argb >> 8) & 0xFF) * k, (argb & 0xFF) * k, (argb >> 24) * k);
}

void CKivGuiDxFont::SetViewportHeightSource(ViewportHeightSource source)
{
    HeightSource = source;
}

int CKivGuiDxFont::Create(const char *idString, const char *face, int height, int weight,
                          const D3DXCOLOR &textColour, int outline, const D3DXCOLOR &outlineColour)
{
    // A second creation starts over rather than lose the first font.
    Release();
    m_device = RwD3D9GetCurrentD3DDevice();
    if (m_device == nullptr)
        return 0;
    m_node = new (std::nothrow) GuiFontNode();
    if (m_node == nullptr)
        return 0;
    m_node->height = height;
    m_node->weight = weight;
    m_node->textColour = textColour;
    m_node->outlineColour = outlineColour;
    m_node->outline = outline;
    m_textColour = textColour;
    m_outlineColour = outlineColour;
    GuiCopyWhole(m_node->faceName, sizeof(m_node->faceName), face ? face : "");

    // The platform copies the face into a LF_FACESIZE field unchecked.
    char platformFace[LF_FACESIZE];
    GuiCopyWhole(platformFace, sizeof(platformFace), m_node->faceName);
    if (D3DXCreateFontA(m_device, height, 0, weight, 1, FALSE, DEFAULT_CHARSET, 0, 0, 0, platformFace,
                        &m_node->font) != D3D_OK) {
        m_node->font = nullptr;
        return 0;
    }
    if (m_measure)
        m_measure->SetFontNode(m_node);
    m_height = static_cast<float>(m_node->height);
    return 1;
}

int CKivGuiDxFont::Release()
{
    if (m_batchDepth > 0) {
        // An open batch is closed first: the depth test it turned off comes back.
        m_batchDepth = 1;
        EndBatch();
    }
    if (m_batch) {
        m_batch->Release();
        m_batch = nullptr;
    }
    if (m_node) {
        if (m_node->font)
            m_node->font->Release();
        if (m_measure) {
            m_measure->SetFontNode(nullptr);
            m_measure->Clear();
        }
        delete m_node;
        m_node = nullptr;
    }
    return 1;
}

void CKivGuiDxFont::OnLostDevice()
{
    if (m_batch)
        m_batch->OnLostDevice();
    if (m_node && m_node->font)
        m_node->font->OnLostDevice();
}

void CKivGuiDxFont::OnResetDevice()
{
    if (m_node && m_node->font)
        m_node->font->OnResetDevice();
    if (m_batch)
        m_batch->OnResetDevice();
}

int CKivGuiDxFont::GetHeight() const
{
    return m_node ? m_node->height : 0;
}

int CKivGuiDxFont::GetWeight() const
{
    return m_node ? m_node->weight : 0;
}

void CKivGuiDxFont::SetColor(DWORD argb)
{
    m_textColour = FromArgb(argb);
    if (m_node)
        m_node->textColour = m_textColour;
}

void CKivGuiDxFont::SetAlpha(float alpha)
{
    if (!(alpha > 0))
        alpha = 0;
    else if (alpha > 1)
        alpha = 1;
    DWORD a = static_cast<DWORD>(alpha * 255) << 24;
    const D3DXCOLOR &text = m_node ? m_node->textColour : m_textColour;
    const D3DXCOLOR &ring = m_node ? m_node->outlineColour : m_outlineColour;
    m_textColour = FromArgb(a | ChannelByte(text.r, 0) << 16 | ChannelByte(text.g, 0) << 8 | ChannelByte(text.b, 0));
    m_outlineColour = FromArgb(a | ChannelByte(ring.r, 0) << 16 | ChannelByte(ring.g, 0) << 8 | ChannelByte(ring.b, 0));
}

void CKivGuiDxFont::Draw(const char *text, const RECT &rect, DWORD format, DWORD argb)
{
    RECT r = rect;
    m_node->font->DrawTextA(m_batchDepth > 0 ? m_batch : nullptr, text, -1, &r, format, argb);
}

void CKivGuiDxFont::BeginBatch()
{
    if (m_batchDepth > 0) {
        m_batchDepth++;
        return;
    }
    if (!m_node || !m_node->font || !m_device)
        return;
    if (!m_batch && D3DXCreateSprite(m_device, &m_batch) != D3D_OK) {
        m_batch = nullptr;
        return;
    }
    // The sprite is drawn at EndBatch: the depth test stays off until then.
    RwD3D9GetRenderState(D3DRS_ZENABLE, &m_batchDepthTest);
    RwD3D9SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    RwD3D9FlushRenderStates();
    // The flags a draw without a sprite begins its own with: no reordering,
    // so outlines stay under their text.
    if (m_batch->Begin(0) != D3D_OK) {
        RwD3D9SetRenderState(D3DRS_ZENABLE, m_batchDepthTest);
        RwD3D9FlushRenderStates();
        return;
    }
    m_batchDepth = 1;
}

void CKivGuiDxFont::EndBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0)
        return;
    m_batch->End();
    RwD3D9SetRenderState(D3DRS_ZENABLE, m_batchDepthTest);
    RwD3D9FlushRenderStates();
}

int CKivGuiDxFont::DrawText(const char *text, const RECT *rect, DWORD format, DWORD argb)
{
    if (text == nullptr || text[0] == 0)
        return 1;
    if (m_node == nullptr || m_node->font == nullptr || rect == nullptr)
        return 0;
    DepthTestOff depth;
    DWORD colour = argb ? argb : ToArgb(m_textColour);
    if (!m_node->outline) {
        Draw(text, *rect, format, colour);
    } else {
        // The text 2 pixels right and down, ringed by eight copies one pixel
        // around it.
        static const int ring[8][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {0, 1}, {0, -1}, {1, 0}, {-1, 0}};
        RECT base = {GuiSum(rect->left, 2), GuiSum(rect->top, 2), GuiSum(rect->right, 2), GuiSum(rect->bottom, 2)};
        DWORD outline = ToArgb(m_outlineColour);
        for (const auto &d : ring) {
            RECT r = {GuiSum(base.left, d[0]), GuiSum(base.top, d[1]), GuiSum(base.right, d[0]),
                      GuiSum(base.bottom, d[1])};
            Draw(text, r, format, outline);
        }
        Draw(text, base, format, colour);
    }
    m_textColour = m_node->textColour;
    m_outlineColour = m_node->outlineColour;
    return 1;
}

int CKivGuiDxFont::DrawTextPlain(const char *text, const RECT *rect, DWORD format)
{
    if (text == nullptr || text[0] == 0)
        return 1;
    if (m_node == nullptr || m_node->font == nullptr || rect == nullptr)
        return 0;
    DepthTestOff depth;
    Draw(text, *rect, format, ToArgb(m_textColour));
    return 1;
}

int CKivGuiDxFont::DrawTextAt(const char *text, const float *position, DWORD format, int flipY, int)
{
    if (position == nullptr)
        return 0;
    int left = Truncate(position[0]);
    int top = Truncate(position[1]);
    if (flipY == 1) {
        int viewportHeight = HeightSource ? HeightSource() : BackBufferHeight();
        top = Truncate(viewportHeight - (top + m_height));
    }
    float fx = static_cast<float>(left);
    float fy = static_cast<float>(top);
    RECT rect = {Truncate(fx), Truncate(fy), Truncate(fx + (position[2] + 0.5f)), Truncate(fy + m_height)};
    return DrawText(text, &rect, format, 0) ? 1 : 0;
}

int CKivGuiDxFont::GetTextWidth(const char *text)
{
    if (text == nullptr || m_measure == nullptr || m_node == nullptr || !m_measure->SetTextAnsi(text))
        return 0;
    // The caret behind the last UTF-16 unit, however many bytes the text had.
    int x = 0;
    if (FAILED(m_measure->CaretToX(m_measure->GetTextSize(), FALSE, &x)))
        return 0;
    return x;
}
