// A named engine camera: one graphics camera with its frame, a field of view and the viewport it renders into.
#include "engine/CKivCamera.h"

#include <cmath>
#include <new>

#include "engine/CKivBase.h"
#include "engine/CKivClump.h"
#include "engine/CKivViewport.h"
#include "engine/CKivWorld.h"
#include "engine/KivEngineLock.h"
#include "engine/KivModelFile.h"
#include "engine/KivNames.h"
#include "gfx/core/camera.h"
#include "gfx/core/im2d.h"
#include "gfx/core/im3d.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/stream.h"
#include "gfx/core/vector.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/world/clump.h"

namespace {

const float kHalfPi = 1.5707964f;

// Rows right, up, at and the position, looking from position at target.
void LookAtMatrix(RwMatrix *m, const RwV3d *position, const RwV3d *target, const RwV3d *up)
{
    RwV3d at, right, side;
    RwV3dSub(&at, target, position);
    RwV3dNormalize(&at, &at);
    RwV3dCrossProduct(&side, up, &at);
    RwV3dNormalize(&right, &side);
    m->right = right;
    RwV3dCrossProduct(&m->up, &at, &right);
    m->at = at;
    m->pos = *position;
    RwMatrixMarkChanged(m);
}

// After a direct write to the frame's matrix.
void MatrixChanged(RwFrame *frame)
{
    RwMatrixMarkChanged(RwFrameGetMatrix(frame));
    RwFrameMarkDirty(frame);
}

RwCamera *TakeFirst(RwCamera *camera, void *data)
{
    *static_cast<RwCamera **>(data) = camera;
    return nullptr;
}

void SetState(RwInt32 state, RwUInt32 value)
{
    RwRenderStateSet(state, reinterpret_cast<void *>(static_cast<uintptr_t>(value)));
}

} // namespace

CKivCamera::CKivCamera() : CKivCamera(nullptr)
{
}

CKivCamera::CKivCamera(const char *name)
    : m_model(nullptr), m_camera(nullptr), m_frame(nullptr), m_viewport(nullptr), m_fieldOfView(kHalfPi),
      m_renderToTexture(0), m_afterImageAlpha(50), m_world(nullptr), m_fovCorrection(1)
{
    KivSetObjectName(&m_name, this, name);
}

CKivCamera::~CKivCamera()
{
    EngineLock lock;
    // The world may not keep pointing at a camera deleted in it.
    if (m_world)
        m_world->RemoveCamera(this);
    ReleaseCamera();
}

// A model's camera goes with its clump; an own camera with its own frame.
void CKivCamera::ReleaseCamera()
{
    if (m_camera) {
        RwCameraSetRaster(m_camera, nullptr);
        RwCameraSetZRaster(m_camera, nullptr);
    }
    if (m_model) {
        delete m_model;
        m_model = nullptr;
        m_camera = nullptr;
    }
    if (m_camera) {
        RwCameraSetFrame(m_camera, nullptr);
        RwCameraDestroy(m_camera);
        m_camera = nullptr;
    }
    if (m_frame) {
        RwFrameDestroy(m_frame);
        m_frame = nullptr;
    }
}

// A new camera on a new frame. A failed frame leaves the camera for the
// destructor, as a failed create leaves nothing behind to leak.
int CKivCamera::Build(float nearClip, float farClip, float fieldOfView, CKivViewport *viewport,
                      const RwMatrix *placement)
{
    EngineLock lock;
    ReleaseCamera();
    m_camera = RwCameraCreate();
    if (!m_camera)
        return 0;
    m_frame = RwFrameCreate();
    if (!m_frame)
        return 0;
    RwCameraSetFrame(m_camera, m_frame);
    if (placement)
        RwFrameTransform(m_frame, placement, rwCOMBINEREPLACE);
    RwCameraSetNearClipPlane(m_camera, nearClip);
    RwCameraSetFarClipPlane(m_camera, farClip);
    m_fieldOfView = fieldOfView;
    return SetViewport(viewport);
}

int CKivCamera::Create(float nearClip, float farClip, float fieldOfView, CKivViewport *viewport)
{
    return Build(nearClip, farClip, fieldOfView, viewport, nullptr);
}

int CKivCamera::CreateLookAt(const RwV3d *position, const RwV3d *target, const RwV3d *up, float nearClip,
                             float farClip, float fieldOfView, CKivViewport *viewport)
{
    RwMatrix m;
    LookAtMatrix(&m, position, target, up);
    return Build(nearClip, farClip, fieldOfView, viewport, &m);
}

void CKivCamera::Adopt(RwCamera *camera, RwFrame *ownFrame, CKivClump *model)
{
    ReleaseCamera();
    m_camera = camera;
    m_frame = ownFrame;
    m_model = model;
    if (ownFrame)
        RwCameraSetFrame(camera, ownFrame);
}

int CKivCamera::Load(const char *fileName)
{
    EngineLock lock;
    KivModelFile file;
    if (!file.Open(fileName))
        return 0;
    RwCamera *camera = nullptr;
    RwClump *model = nullptr;
    if (RwStreamFindChunk(file.Stream(), rwID_CAMERA, nullptr, nullptr)) {
        camera = RwCameraStreamRead(file.Stream());
    } else if ((model = file.ReadClump()) != nullptr) {
        RwClumpForAllCameras(model, TakeFirst, &camera);
        if (camera && !RwCameraGetFrame(camera))
            camera = nullptr;
    }
    // A bare camera chunk carries no frame: the camera gets one of its own.
    RwFrame *frame = camera && !model ? RwFrameCreate() : nullptr;
    if (!camera || (!model && !frame)) {
        if (model)
            RwClumpDestroy(model);
        else if (camera)
            RwCameraDestroy(camera);
        return 0;
    }
    CKivClump *owner = nullptr;
    if (model) {
        owner = new (std::nothrow) CKivClump;
        if (!owner) {
            RwClumpDestroy(model);
            return 0;
        }
        owner->SetClump(model);
    }
    Adopt(camera, frame, owner);
    RwFrameMarkDirty(RwCameraGetFrame(camera));
    // The setters rebuild what the library derives from these values.
    const RwV2d window = camera->viewWindow;
    const RwV2d offset = camera->viewOffset;
    RwCameraSetNearClipPlane(camera, camera->nearPlane);
    RwCameraSetFarClipPlane(camera, camera->farPlane);
    RwCameraSetProjection(camera, static_cast<RwCameraProjection>(camera->projectionType));
    RwCameraSetViewOffset(camera, &offset);
    RwCameraSetViewWindow(camera, &window);

    m_fieldOfView = 2.0f * atanf(window.x);
    CKivBase *base = CKivBase::GetInstance();
    const CKivViewport *current = base ? base->GetViewport() : nullptr;
    if (m_fovCorrection && current && current->GetAspect() > 0.0f) {
        m_fieldOfView = m_fieldOfView * 768.0f / 1024.0f / current->GetAspect();
        RwCameraSetViewWindow(camera, &window);
    }
    return 1;
}

int CKivCamera::SetLookAt(const RwV3d *position, const RwV3d *target, const RwV3d *up)
{
    RwFrame *frame = Frame();
    if (!frame)
        return 0;
    // The look-at matrix is a world placement: the ancestors must not move it.
    RwMatrix identity;
    RwMatrixSetIdentity(&identity);
    for (RwFrame *f = RwFrameGetParent(frame); f; f = RwFrameGetParent(f))
        RwFrameTransform(f, &identity, rwCOMBINEREPLACE);
    RwMatrix m;
    LookAtMatrix(&m, position, target, up);
    RwFrameTransform(frame, &m, rwCOMBINEREPLACE);
    if (m_model)
        m_model->UpdateObjects();
    return 1;
}

RwFrame *CKivCamera::Frame() const
{
    return m_camera ? RwCameraGetFrame(m_camera) : nullptr;
}

int CKivCamera::SetViewport(CKivViewport *viewport)
{
    m_viewport = viewport;
    if (!m_camera)
        return 1;
    RwV2d window = {1.0f, 1.0f};
    if (!viewport) {
        RwCameraSetRaster(m_camera, nullptr);
        RwCameraSetZRaster(m_camera, nullptr);
        RwCameraSetProjection(m_camera, rwPARALLEL);
        RwCameraSetViewWindow(m_camera, &window);
        return 1;
    }
    RwCameraSetRaster(m_camera, viewport->GetRaster());
    RwCameraSetZRaster(m_camera, viewport->GetZRaster());
    if (m_fieldOfView <= 0.0f) {
        RwCameraSetProjection(m_camera, rwPARALLEL);
    } else {
        const float t = tanf(m_fieldOfView * 0.5f);
        window = {t, viewport->GetAspect() * t};
        RwCameraSetProjection(m_camera, rwPERSPECTIVE);
    }
    RwCameraSetViewWindow(m_camera, &window);
    RwRGBA black = {0, 0, 0, 255};
    RwCameraClear(m_camera, &black, rwCAMERACLEARIMAGE | (viewport->GetZRaster() ? rwCAMERACLEARZ : 0));
    return 1;
}

RwV3d *CKivCamera::WorldToScreen(RwV3d *out, const RwV3d *world)
{
    // A frame scaled to nothing (or past what a real holds) has no view.
    const RwMatrix *ltm = GetLTM();
    if (!ltm || !m_viewport || !RwMatrixInvertible(ltm)) {
        *out = {0.0f, 0.0f, 0.0f};
        return out;
    }
    RwMatrix inverse;
    RwMatrixInvert(&inverse, ltm);
    RwV3d c;
    RwV3dTransformPoint(&c, world, &inverse);
    const float hw = m_viewport->GetWidth() * 0.5f;
    const float hh = m_viewport->GetHeight() * 0.5f;
    const float k = 1.0f / tanf(m_fieldOfView * 0.5f);
    const float ky = k / m_viewport->GetAspect();
    if (c.z < 0.0f) {
        c.x = -c.x;
        c.y = -c.y;
    }
    out->x = hw - c.x * hw * k / c.z;
    out->y = c.y * hh * ky / c.z + hh;
    out->z = c.z;
    return out;
}

int CKivCamera::ShowRaster()
{
    if (!m_camera || !m_viewport)
        return 0;
    return RwCameraShowRaster(m_camera, m_viewport->GetWindow(), 0) ? 1 : 0;
}

void CKivCamera::DrawAfterImage()
{
    if (!m_renderToTexture || !m_camera || !m_viewport)
        return;
    RwCameraSetRaster(m_camera, m_viewport->GetRaster());
    if (!RwCameraBeginUpdate(m_camera))
        return;
    SetState(rwRENDERSTATESRCBLEND, 5);
    SetState(rwRENDERSTATEDESTBLEND, 6);
    SetState(rwRENDERSTATEZTESTENABLE, 0);
    SetState(rwRENDERSTATEZWRITEENABLE, 0);
    SetState(rwRENDERSTATETEXTUREFILTER, 2);
    RwRenderStateSet(rwRENDERSTATETEXTURERASTER, m_viewport->GetTextureRaster());
    SetState(rwRENDERSTATEVERTEXALPHAENABLE, 1);

    const float w = static_cast<float>(m_viewport->GetWidth());
    const float h = static_cast<float>(m_viewport->GetHeight());
    const float z = RwIm2DGetNearScreenZ();
    const float rhw = 1.0f / m_camera->farPlane;
    const RwUInt32 colour = static_cast<RwUInt32>(m_afterImageAlpha) << 24 | 0xFFFFFF;
    const float u0 = 1.0f / w, v0 = 1.0f / h;
    RwIm2DVertex quad[4] = {
        {0.0f, 0.0f, z, rhw, colour, u0, v0},
        {0.0f, h, z, rhw, colour, u0, 1.0f + v0},
        {w, 0.0f, z, rhw, colour, 1.0f + u0, v0},
        {w, h, z, rhw, colour, 1.0f + u0, 1.0f + v0},
    };
    RwIm2DRenderPrimitive(rwPRIMTYPETRISTRIP, quad, 4);

    SetState(rwRENDERSTATEZTESTENABLE, 1);
    SetState(rwRENDERSTATEZWRITEENABLE, 1);
    SetState(rwRENDERSTATESRCBLEND, 5);
    SetState(rwRENDERSTATEDESTBLEND, 6);
    RwCameraEndUpdate(m_camera);
}

// A model's camera follows the model's first child frame, as last computed;
// a model without one, or an own camera, its frame.
const RwMatrix *CKivCamera::GetLTM()
{
    RwFrame *root = m_model && m_model->GetClump() ? RwClumpGetFrame(m_model->GetClump()) : nullptr;
    if (root && root->child)
        return &root->child->ltm;
    return GetWorldMatrix();
}

const RwMatrix *CKivCamera::GetWorldMatrix()
{
    RwFrame *frame = Frame();
    return frame ? RwFrameGetWorldMatrix(frame) : nullptr;
}

float CKivCamera::GetFarClip() const
{
    return m_camera ? m_camera->farPlane : 0.0f;
}

int CKivCamera::BeginUpdate()
{
    return m_camera && RwCameraBeginUpdate(m_camera) ? 1 : 0;
}

int CKivCamera::EndUpdate()
{
    return m_camera && RwCameraEndUpdate(m_camera) ? 1 : 0;
}

void CKivCamera::SetFieldOfView(float radians)
{
    m_fieldOfView = radians;
    SetViewport(m_viewport);
}

void CKivCamera::SetPosition(const RwV3d *position)
{
    RwFrame *frame = Frame();
    if (!frame)
        return;
    RwFrameGetMatrix(frame)->pos = *position;
    MatrixChanged(frame);
}

void CKivCamera::Translate(const RwV3d *delta)
{
    RwFrame *frame = Frame();
    if (frame)
        RwFrameTranslate(frame, delta, rwCOMBINEPOSTCONCAT);
}

void CKivCamera::SetRotation(const RwV3d *axis, float degrees)
{
    RwFrame *frame = Frame();
    if (!frame)
        return;
    RwMatrix *m = RwFrameGetMatrix(frame);
    const RwV3d position = m->pos;
    RwMatrixRotate(m, axis, degrees, rwCOMBINEREPLACE);
    m->pos = position;
    MatrixChanged(frame);
}

void CKivCamera::Rotate(const RwV3d *axis, float degrees)
{
    RwFrame *frame = Frame();
    if (frame)
        RwFrameRotate(frame, axis, degrees, rwCOMBINEPRECONCAT);
}

// Axis 0 right, 1 up, 2 at of the frame's own matrix.
void CKivCamera::MoveAlong(int axis, float distance)
{
    RwFrame *frame = Frame();
    if (!frame)
        return;
    RwMatrix *m = RwFrameGetMatrix(frame);
    const RwV3d *dir = axis == 0 ? &m->right : axis == 1 ? &m->up : &m->at;
    RwV3dIncrementScaled(&m->pos, dir, distance);
    MatrixChanged(frame);
}

void CKivCamera::MoveForward(float distance)
{
    MoveAlong(2, distance);
}

void CKivCamera::MoveRight(float distance)
{
    MoveAlong(0, distance);
}

void CKivCamera::MoveUp(float distance)
{
    MoveAlong(1, distance);
}

void CKivCamera::Raise(float distance)
{
    RwFrame *frame = Frame();
    if (!frame)
        return;
    RwMatrix *m = RwFrameGetMatrix(frame);
    m->pos.y += m->up.y * distance;
    MatrixChanged(frame);
}

int CKivCamera::SetRenderToTexture(int on)
{
    if (!m_viewport || !m_viewport->GetTextureRaster() || !m_camera)
        return 0;
    m_renderToTexture = on;
    RwCameraSetRaster(m_camera, on ? m_viewport->GetTextureRaster() : m_viewport->GetRaster());
    return 1;
}
