// The projected shadow: a posed copy of a model rendered from the light into a small texture, laid onto the world under it.
#pragma once

#include "gfx/core/bbox.h"
#include "gfx/core/rwtypes.h"

struct RwCamera;
struct RwRaster;
class CKivCamera;
class CKivClump;
class CKivLight;

class CKivShadow
{
public:
    enum { kRasterExponent = 6, kRasterSize = 1 << kRasterExponent, kSoftenPasses = 1 };

    // The light and soften cameras every shadow shares; 0 when one cannot be made.
    static int CreateCameras();
    static void DestroyCameras();
    static RwCamera *GetLightCamera();

    CKivShadow();
    // The clumps are the game's: nothing is released.
    virtual ~CKivShadow();
    CKivShadow(const CKivShadow &) = delete;
    CKivShadow &operator=(const CKivShadow &) = delete;

    // A clump going away: no shadow keeps it as its caster or its model, so
    // none draws a model that is gone. Allocates nothing.
    static void ForgetClump(const CKivClump *clump);

    // Clears the shadow model's textures so it renders in its material colours.
    int Set(CKivClump *caster, CKivClump *shadowClump, float length);
    // Poses the shadow model, fits the light camera around the caster and
    // renders the shadow texture.
    void Update(CKivLight *light);
    // Darkens the world's triangles under the caster inside an update of the camera.
    void Render(CKivCamera *camera, float intensity);

    int GetTriangleCount() const { return m_triangles; }
    const RwSphere &GetSphere() const { return m_sphere; }
    float GetIntensity() const { return m_intensity; }
    float GetLength() const { return m_length; }
    void SetLength(float length) { m_length = length; }

private:
    int Active() const;
    void PoseShadowClump();
    void RenderTexture();

    CKivClump *m_caster;
    CKivClump *m_shadowClump;
    CKivShadow *m_previous;     // every shadow alive, for ForgetClump (under the render lock)
    CKivShadow *m_next;
    int m_triangles;            // world triangles the last projection covered
    RwSphere m_sphere;          // the caster's, world space; radius 0 until measured
    RwBBox m_box;               // the query box: upper corner, lower corner
    float m_intensity;          // 0..1
    float m_length;             // reach along the light; 0 disables the shadow
};
