// A named engine camera: one graphics camera with its frame, a field of view and the viewport it renders into.
#pragma once

#include <string>

#include "gfx/core/rwtypes.h"

struct RwCamera;
struct RwClump;
struct RwFrame;
struct RwMatrix;
class CKivClump;
class CKivViewport;
class CKivWorld;

class CKivCamera
{
public:
    // Named after its own address.
    CKivCamera();
    explicit CKivCamera(const char *name);
    // Destroys the graphics camera and the frame this object made.
    virtual ~CKivCamera();
    CKivCamera(const CKivCamera &) = delete;
    CKivCamera &operator=(const CKivCamera &) = delete;

    int Create(float nearClip, float farClip, float fieldOfView, CKivViewport *viewport);
    int CreateLookAt(const RwV3d *position, const RwV3d *target, const RwV3d *up, float nearClip, float farClip,
                     float fieldOfView, CKivViewport *viewport);
    // Reads the camera of a model file through the engine's archive.
    int Load(const char *fileName);
    int SetLookAt(const RwV3d *position, const RwV3d *target, const RwV3d *up);
    // Renders into the viewport's rasters (none with null) and clears them.
    int SetViewport(CKivViewport *viewport);
    // Screen x and y of a world point; z is its distance in front of the camera.
    RwV3d *WorldToScreen(RwV3d *out, const RwV3d *world);
    int ShowRaster();
    void DrawAfterImage();
    const RwMatrix *GetLTM();
    const RwMatrix *GetWorldMatrix();
    float GetFarClip() const;
    int BeginUpdate();
    int EndUpdate();

    void SetFieldOfView(float radians);
    void SetPosition(const RwV3d *position);
    void Translate(const RwV3d *delta);
    void SetRotation(const RwV3d *axis, float degrees);
    void Rotate(const RwV3d *axis, float degrees);
    void MoveForward(float distance);
    void MoveRight(float distance);
    void MoveUp(float distance);
    void Raise(float distance);
    int SetRenderToTexture(int on);

    const char *GetName() const { return m_name.c_str(); }
    RwCamera *GetCamera() const { return m_camera; }
    CKivClump *GetModel() const { return m_model; }
    CKivViewport *GetViewport() const { return m_viewport; }
    float GetFieldOfView() const { return m_fieldOfView; }
    int GetRenderToTexture() const { return m_renderToTexture; }
    int GetAfterImageAlpha() const { return m_afterImageAlpha; }
    void SetAfterImageAlpha(int alpha) { m_afterImageAlpha = alpha; }
    CKivWorld *GetWorld() const { return m_world; }
    void SetWorld(CKivWorld *world) { m_world = world; }
    int GetFovCorrection() const { return m_fovCorrection; }
    void SetFovCorrection(int on) { m_fovCorrection = on; }

private:
    void ReleaseCamera();
    void Adopt(RwCamera *camera, RwFrame *ownFrame, CKivClump *model);
    int Build(float nearClip, float farClip, float fieldOfView, CKivViewport *viewport, const RwMatrix *placement);
    void MoveAlong(int axis, float distance);
    RwFrame *Frame() const;

    std::string m_name;          // lower case
    CKivClump *m_model;          // the model that owns the camera (and destroys it), or null
    RwCamera *m_camera;
    RwFrame *m_frame;            // the frame this object made and destroys
    CKivViewport *m_viewport;
    float m_fieldOfView;         // radians; 0 or below is parallel projection
    int m_renderToTexture;
    int m_afterImageAlpha;       // 0..255
    CKivWorld *m_world;          // set while the camera is in a world
    int m_fovCorrection;         // Load rescales the file's field of view to the viewport
};
