// The shared batch of immediate-mode triangles that both kinds of shadow lay onto the world.
#include "engine/KivShadowBatch.h"

#include <d3d9.h>

#include "engine/KivRenderState.h"

static RwIm3DVertex shadowVertices[KivShadowBatch::kCapacity];

KivShadowBatch &KivGetShadowBatch()
{
    static KivShadowBatch batch;
    return batch;
}

void KivShadowBatch::Add(const RwIm3DVertex vertices[3])
{
    if (m_count > kCapacity - 3) {
        Flush();
        m_batches++;
    }
    for (int i = 0; i < 3; i++)
        shadowVertices[m_count++] = vertices[i];
}

void KivShadowBatch::Flush()
{
    enum : RwUInt32 { kFlags = rwIM3D_VERTEXUV | rwIM3D_NOCLIP | rwIM3D_VERTEXXYZ | rwIM3D_VERTEXRGBA };
    if (m_count > 0 && RwIm3DTransform(shadowVertices, static_cast<RwUInt32>(m_count), nullptr, kFlags)) {
        RwIm3DRenderPrimitive(rwPRIMTYPETRILIST);
        RwIm3DEnd();
    }
    m_count = 0;
}

namespace {

const RwUInt32 kColourOnly = D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE;
const RwUInt32 kAllChannels = kColourOnly | D3DCOLORWRITEENABLE_ALPHA;

} // namespace

void KivShadowStatesBegin(RwRaster *raster, RwUInt32 srcBlend, RwUInt32 destBlend)
{
    // A shadow darkens the colour of the ground only: blended into the alpha
    // channel too, it would leave the frame see-through wherever its box
    // reaches (grabs of the frame then show the ground washed out).
    RwD3D9SetRenderState(D3DRS_COLORWRITEENABLE, kColourOnly);
    KivSetState(rwRENDERSTATEZWRITEENABLE, 0);
    RwRenderStateSet(rwRENDERSTATETEXTURERASTER, raster);
    KivSetState(rwRENDERSTATETEXTUREADDRESS, 3);
    KivSetState(rwRENDERSTATEVERTEXALPHAENABLE, 1);
    KivSetState(rwRENDERSTATETEXTUREFILTER, 2);
    KivSetState(rwRENDERSTATESRCBLEND, srcBlend);
    KivSetState(rwRENDERSTATEDESTBLEND, destBlend);
    KivGetShadowBatch().Reset();
}

void KivShadowStatesEnd()
{
    KivGetShadowBatch().Flush();
    RwD3D9SetRenderState(D3DRS_COLORWRITEENABLE, kAllChannels);
    KivSetState(rwRENDERSTATEZWRITEENABLE, 1);
    KivSetState(rwRENDERSTATESRCBLEND, 5);
    KivSetState(rwRENDERSTATEDESTBLEND, 6);
}
