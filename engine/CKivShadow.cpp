// The projected shadow: a posed copy of a model rendered from the light into a small texture, laid onto the world under it.
#include "engine/CKivShadow.h"

#include <cmath>
#include <cstdint>

#include "engine/CKivAlphaManager.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/KivBounds.h"
#include "engine/KivEngineLock.h"
#include "engine/KivShadowBatch.h"
#include "engine/KivRenderState.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/im2d.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"

namespace {

RwCamera *lightCamera = nullptr;
RwCamera *softenCamera = nullptr;

void DestroyCamera(RwCamera *&camera)
{
    if (!camera)
        return;
    if (RwFrame *frame = RwCameraGetFrame(camera)) {
        RwCameraSetFrame(camera, nullptr);
        RwFrameDestroy(frame);
    }
    if (camera->frameBuffer)
        RwRasterDestroy(camera->frameBuffer);
    if (camera->zBuffer)
        RwRasterDestroy(camera->zBuffer);
    RwCameraSetRaster(camera, nullptr);
    RwCameraSetZRaster(camera, nullptr);
    RwCameraDestroy(camera);
    camera = nullptr;
}

RwCamera *CreateCamera()
{
    RwCamera *camera = RwCameraCreate();
    if (!camera)
        return nullptr;
    RwFrame *frame = RwFrameCreate();
    RwRaster *raster = RwRasterCreate(CKivShadow::kRasterSize, CKivShadow::kRasterSize, 0, rwRASTERTYPECAMERATEXTURE);
    RwRaster *zRaster = RwRasterCreate(CKivShadow::kRasterSize, CKivShadow::kRasterSize, 0, rwRASTERTYPEZBUFFER);
    if (frame)
        RwCameraSetFrame(camera, frame);
    RwCameraSetRaster(camera, raster);
    RwCameraSetZRaster(camera, zRaster);
    if (!frame || !raster || !zRaster) {
        DestroyCamera(camera);
        return nullptr;
    }
    RwCameraSetProjection(camera, rwPARALLEL);
    return camera;
}

// A quad over the whole raster of the camera being rendered.
void DrawQuad(float z, float rhw, RwUInt32 colour, float shift)
{
    const float size = static_cast<float>(CKivShadow::kRasterSize);
    RwIm2DVertex quad[4] = {
        {0.0f, 0.0f, z, rhw, colour, shift, shift},
        {0.0f, size, z, rhw, colour, shift, 1.0f + shift},
        {size, 0.0f, z, rhw, colour, 1.0f + shift, shift},
        {size, size, z, rhw, colour, 1.0f + shift, 1.0f + shift},
    };
    RwIm2DRenderPrimitive(rwPRIMTYPETRISTRIP, quad, 4);
}

void RestoreStates()
{
    KivSetState(rwRENDERSTATEZTESTENABLE, 1);
    KivSetState(rwRENDERSTATEZWRITEENABLE, 1);
    KivSetState(rwRENDERSTATESRCBLEND, 5);
    KivSetState(rwRENDERSTATEDESTBLEND, 6);
}

// Blurs the light camera's raster by one texel through the soften camera.
void Soften()
{
    RwRaster *lightRaster = lightCamera->frameBuffer;
    RwRaster *softenRaster = softenCamera->frameBuffer;
    const float z = RwIm2DGetFarScreenZ(), rhw = 1.0f / softenCamera->farPlane;
    const float texel = 1.0f / static_cast<float>(CKivShadow::kRasterSize);
    for (int pass = 0; pass < CKivShadow::kSoftenPasses; pass++) {
        for (int half = 0; half < 2; half++) {
            if (half)
                RwCameraSetRaster(softenCamera, lightRaster);
            if (RwCameraBeginUpdate(softenCamera)) {
                KivSetState(rwRENDERSTATESRCBLEND, 2);
                KivSetState(rwRENDERSTATEDESTBLEND, 1);
                KivSetState(rwRENDERSTATEZTESTENABLE, 0);
                KivSetState(rwRENDERSTATEZWRITEENABLE, 0);
                KivSetState(rwRENDERSTATETEXTUREFILTER, 2);
                RwRenderStateSet(rwRENDERSTATETEXTURERASTER, half ? softenRaster : lightRaster);
                DrawQuad(z, rhw, 0xFFFFFFFFu, half ? 0.0f : texel);
                RestoreStates();
                RwCameraEndUpdate(softenCamera);
            }
        }
        RwCameraSetRaster(softenCamera, softenRaster);
    }
}

struct Projection {
    RwMatrix matrix;
    RwV3d at;
    RwUInt32 colour;
};

RwCollisionTriangle *Project(RwIntersection *, RwWorldSector *, RwCollisionTriangle *triangle, RwReal, void *data)
{
    const Projection *projection = static_cast<const Projection *>(data);
    if (RwV3dDotProduct(&triangle->normal, &projection->at) > 0.0f)
        return triangle;
    RwIm3DVertex vertices[3];
    for (int i = 0; i < 3; i++) {
        RwIm3DVertex &out = vertices[i];
        RwV3d uv;
        RwV3dTransformPoint(&uv, triangle->vertices[i], &projection->matrix);
        out.objVertex = *triangle->vertices[i];
        RwV3dIncrementScaled(&out.objVertex, &triangle->normal, 0.1f);
        out.objNormal = triangle->normal;
        out.color = projection->colour;
        out.u = uv.x;
        out.v = uv.y;
    }
    KivGetShadowBatch().Add(vertices);
    return triangle;
}

} // namespace

int CKivShadow::CreateCameras()
{
    DestroyCameras();
    lightCamera = CreateCamera();
    softenCamera = lightCamera ? CreateCamera() : nullptr;
    if (!softenCamera) {
        DestroyCameras();
        return 0;
    }
    return 1;
}

void CKivShadow::DestroyCameras()
{
    DestroyCamera(lightCamera);
    DestroyCamera(softenCamera);
}

RwCamera *CKivShadow::GetLightCamera()
{
    return lightCamera;
}

namespace {
// Every shadow alive, under the render lock: a clump may go on a loading thread.
CKivShadow *g_firstShadow = nullptr;
} // namespace

CKivShadow::CKivShadow()
    : m_caster(nullptr), m_shadowClump(nullptr), m_previous(nullptr), m_next(nullptr), m_triangles(0),
      m_sphere(), m_box(), m_intensity(1.0f), m_length(1000.0f)
{
    EngineLock lock;
    m_next = g_firstShadow;
    if (m_next)
        m_next->m_previous = this;
    g_firstShadow = this;
}

CKivShadow::~CKivShadow()
{
    EngineLock lock;
    if (m_previous)
        m_previous->m_next = m_next;
    else
        g_firstShadow = m_next;
    if (m_next)
        m_next->m_previous = m_previous;
}

void CKivShadow::ForgetClump(const CKivClump *clump)
{
    EngineLock lock;
    for (CKivShadow *shadow = g_firstShadow; shadow; shadow = shadow->m_next) {
        if (shadow->m_caster == clump)
            shadow->m_caster = nullptr;
        if (shadow->m_shadowClump == clump)
            shadow->m_shadowClump = nullptr;
    }
}

int CKivShadow::Set(CKivClump *caster, CKivClump *shadowClump, float length)
{
    m_caster = caster;
    m_shadowClump = shadowClump;
    m_length = length;
    if (m_shadowClump)
        m_shadowClump->SetMaterialTexture(nullptr, nullptr);
    return 1;
}

int CKivShadow::Active() const
{
    return m_length != 0.0f && !std::isnan(m_length) && lightCamera && softenCamera && m_caster &&
           m_caster->GetClump() && m_shadowClump && m_shadowClump->GetClump();
}

void CKivShadow::PoseShadowClump()
{
    m_shadowClump->CopyPose(m_caster);
    RwHAnimHierarchy *from = m_caster->GetHierarchy();
    RwHAnimHierarchy *to = m_shadowClump->GetHierarchy();
    if (from && to && from->pMatrixArray && to->pMatrixArray) {
        // A smaller shadow skeleton takes only the bones it has.
        const RwInt32 count = from->numNodes < to->numNodes ? from->numNodes : to->numNodes;
        for (RwInt32 i = 0; i < count; i++)
            to->pMatrixArray[i] = from->pMatrixArray[i];
    }
}

void CKivShadow::Update(CKivLight *light)
{
    if (!Active() || !light || !light->GetLight() || !RwLightGetFrame(light->GetLight()))
        return;
    PoseShadowClump();
    RwFrame *frame = RwCameraGetFrame(lightCamera);
    RwFrameTransform(frame, RwFrameGetWorldMatrix(RwLightGetFrame(light->GetLight())), rwCOMBINEREPLACE);
    // Measured before the view window is fitted to it; an empty caster casts nothing.
    ClumpGetBoundingSphere(&m_sphere, m_caster->GetClump());
    if (!(m_sphere.radius > 0.0f))
        return;
    const float r = m_sphere.radius;
    const RwV2d window = {r, r};
    RwCameraSetFarClipPlane(lightCamera, m_length);
    RwCameraSetNearClipPlane(lightCamera, 1.0f);
    RwCameraSetViewWindow(lightCamera, &window);
    RwCameraSetViewWindow(softenCamera, &window);

    RwMatrix *m = RwFrameGetMatrix(frame);
    const RwV3d right = m->right, up = m->up, at = m->at, c = m_sphere.center;
    m->pos = c;
    RwV3dIncrementScaled(&m->pos, &at, -r);
    RwMatrixMarkChanged(m);
    RwFrameMarkDirty(frame);

    RwV3d points[6] = {c, c, c, c, c, c};
    RwV3dIncrementScaled(&points[0], &right, -r);
    RwV3dIncrementScaled(&points[1], &right, r);
    RwV3dIncrementScaled(&points[2], &up, -r);
    RwV3dIncrementScaled(&points[3], &up, r);
    RwV3dIncrementScaled(&points[5], &at, m_length);
    RwBBoxCalculate(&m_box, points, 6);

    RenderTexture();
    Soften();
}

void CKivShadow::RenderTexture()
{
    RwRGBA clear = {255, 255, 255, 0};
    RwCameraClear(lightCamera, &clear, 3);
    if (!RwCameraBeginUpdate(lightCamera))
        return;
    // Transparent parts of the shadow model go into this texture, not the main view.
    CKivBase *base = CKivBase::GetInstance();
    CKivAlphaManager own;
    CKivAlphaManager *previous = base ? base->GetAlphaManager() : nullptr;
    if (base)
        base->SetAlphaManager(&own);
    RwClumpRender(m_shadowClump->GetClump());
    own.Render(1);
    if (base)
        base->SetAlphaManager(previous);

    KivSetState(rwRENDERSTATEZTESTENABLE, 0);
    KivSetState(rwRENDERSTATEZWRITEENABLE, 0);
    RwRenderStateSet(rwRENDERSTATETEXTURERASTER, nullptr);
    KivSetState(rwRENDERSTATEVERTEXALPHAENABLE, 1);
    KivSetState(rwRENDERSTATESRCBLEND, 10);
    KivSetState(rwRENDERSTATEDESTBLEND, 1);
    DrawQuad(RwIm2DGetNearScreenZ(), 1.0f / lightCamera->nearPlane, 0xFF969696u, 0.0f);
    RestoreStates();
    RwCameraEndUpdate(lightCamera);
}

void CKivShadow::Render(CKivCamera *camera, float intensity)
{
    if (!Active() || !camera || !(m_sphere.radius > 0.0f))
        return;
    m_intensity = intensity < 0.0f ? 0.0f : intensity > 1.0f ? 1.0f : intensity;
    RwWorld *world = RwClumpGetWorld(m_caster->GetClump());
    if (!world || !camera->BeginUpdate())
        return;
    KivShadowStatesBegin(lightCamera->frameBuffer, 1, 4);
    Projection projection;
    RwFrame *frame = RwCameraGetFrame(lightCamera);
    RwMatrixInvert(&projection.matrix, RwFrameGetWorldMatrix(frame));
    const float window = lightCamera->viewWindow.x;
    const RwV3d scale = {-0.5f / window, -0.5f / window, 1.0f / m_length};
    const RwV3d shift = {0.5f, 0.5f, 0.0f};
    RwMatrixScale(&projection.matrix, &scale, rwCOMBINEPOSTCONCAT);
    RwMatrixTranslate(&projection.matrix, &shift, rwCOMBINEPOSTCONCAT);
    projection.at = RwFrameGetWorldMatrix(frame)->at;
    const RwUInt32 grey = static_cast<RwUInt32>(m_intensity * 255.0f) & 0xFF;
    projection.colour = grey << 24 | grey << 16 | grey << 8 | grey;

    RwIntersection box = {};
    box.type = rwINTERSECTBOX;
    box.t.box = m_box;
    RwCollisionWorldForAllIntersections(world, &box, Project, &projection);
    const KivShadowBatch &batch = KivGetShadowBatch();
    m_triangles = (batch.GetBatches() * KivShadowBatch::kCapacity + batch.GetCount()) / 3;
    KivShadowStatesEnd();
    camera->EndUpdate();
}
