// The toolkit's module set-up, device camera, metric and transformation stack.
#include <cmath>
#include <cstring>

#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/core/vector.h"
#include "t2dinternal.h"

Rw2dGlobals rw2dGlobals;

static void InvalidateDevice(void)
{
    rw2dGlobals.deviceValid = FALSE;
    rw2dGlobals.toleranceValid = FALSE;
}

static RwBool StackOpen(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    std::memset(g.stack, 0, sizeof(g.stack));
    g.top = 0;
    g.stack[0] = RwMatrixCreate();
    if (!g.stack[0])
        return FALSE;
    g.layerDepth = 1.0f;
    g.flatness = 0.5f;
    g.subdivision = 7;
    RwMatrixSetIdentity(&g.base);
    g.camera = nullptr;
    g.metricX = g.metricY = 0.0f;
    g.metricW = g.metricH = 1.0f;
    g.deviceValid = FALSE;
    g.toleranceValid = FALSE;
    return TRUE;
}

static void StackClose(void)
{
    for (RwMatrix *&m : rw2dGlobals.stack) {
        if (m)
            RwMatrixDestroy(m);
        m = nullptr;
    }
    rw2dGlobals.top = 0;
}

RwBool Rw2dOpen(RwCamera *camera)
{
    if (rw2dGlobals.open)
        return FALSE;
    RwBool (*const opens[])(void) = {Rw2dStringModuleOpen, Rw2dPathModuleOpen, Rw2dBrushModuleOpen,
                                     Rw2dFontModuleOpen, Rw2dObjectModuleOpen, StackOpen};
    void (*const closes[])(void) = {Rw2dStringModuleClose, Rw2dPathModuleClose, Rw2dBrushModuleClose,
                                    Rw2dFontModuleClose, Rw2dObjectModuleClose, StackClose};
    const int n = static_cast<int>(sizeof(opens) / sizeof(opens[0]));
    for (int i = 0; i < n; i++) {
        if (!opens[i]()) {
            // Whatever opened before goes again, newest first.
            for (int j = i; j >= 0; j--)
                closes[j]();
            return FALSE;
        }
    }
    rw2dGlobals.open = TRUE;
    return Rw2dDeviceSetCamera(camera);
}

RwBool Rw2dClose(void)
{
    if (!rw2dGlobals.open)
        return FALSE;
    StackClose();
    Rw2dObjectModuleClose();
    Rw2dFontModuleClose();
    Rw2dBrushModuleClose();
    Rw2dPathModuleClose();
    Rw2dStringModuleClose();
    Rw2dDeviceSetCamera(nullptr);
    rw2dGlobals.open = FALSE;
    return TRUE;
}

// Device ----------------------------------------------------------------------------------------

RwCamera *Rw2dDeviceEndUpdateForward(RwCamera *camera)
{
    RwCameraEndUpdateFunc saved = rw2dGlobals.savedEndUpdate;
    return saved ? saved(camera) : camera;
}

RwBool Rw2dDeviceSetCamera(RwCamera *camera)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (camera == nullptr) {
        g.camera = nullptr;
        InvalidateDevice();
        return FALSE;
    }
    if (camera->frameBuffer == nullptr)
        return FALSE;
    g.rasterW = static_cast<RwReal>(camera->frameBuffer->width);
    g.rasterH = static_cast<RwReal>(camera->frameBuffer->height);
    g.viewW = 2.0f * camera->viewWindow.x;
    g.viewH = 2.0f * camera->viewWindow.y;
    if (camera->endUpdate != Rw2dDeviceEndUpdateForward && camera != g.camera) {
        g.savedEndUpdate = camera->endUpdate;
        camera->endUpdate = Rw2dDeviceEndUpdateForward;
    }
    g.camera = camera;
    InvalidateDevice();
    g.metricX = g.metricY = 0.0f;
    if (g.viewW > g.viewH) {
        g.metricW = g.viewW / g.viewH;
        g.metricH = 1.0f;
    } else {
        g.metricW = 1.0f;
        g.metricH = g.viewH / g.viewW;
    }
    return TRUE;
}

RwCamera *Rw2dDeviceGetCamera(void)
{
    return rw2dGlobals.camera;
}

RwReal Rw2dDeviceGetLayerDepth(void)
{
    return rw2dGlobals.layerDepth;
}

// The depth at which 2D geometry lies: 1 for a parallel camera.
static RwReal Depth(void)
{
    const Rw2dGlobals &g = rw2dGlobals;
    return (g.camera && g.camera->projectionType == rwPARALLEL) ? 1.0f : g.layerDepth;
}

// Brings the device transformation (CTM, base, then the view mapping) up to date.
static void UpdateDevice(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (g.deviceValid)
        return;
    const RwReal d = Depth();
    const RwReal m = g.viewW < g.viewH ? g.viewW : g.viewH;
    RwMatrixMultiply(&g.device, g.stack[g.top], &g.base);
    const RwV3d depth = {d, d, 1.0f};
    const RwV3d flip = {-m, m, 1.0f};
    const RwV3d centre = {g.viewW * d * 0.5f, -(g.viewH * d * 0.5f), 0.0f};
    RwMatrixScale(&g.device, &depth, rwCOMBINEPOSTCONCAT);
    RwMatrixScale(&g.device, &flip, rwCOMBINEPOSTCONCAT);
    RwMatrixTranslate(&g.device, &centre, rwCOMBINEPOSTCONCAT);
    RwMatrixInvert(&g.deviceInv, &g.device);
    g.deviceValid = TRUE;
}

RwMatrix *Rw2dDeviceGetTransform(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (!g.open || !g.camera)
        return nullptr;
    UpdateDevice();
    RwFrame *frame = RwCameraGetFrame(g.camera);
    if (frame)
        RwMatrixMultiply(&g.deviceToWorld, &g.device, RwFrameGetWorldMatrix(frame));
    else
        RwMatrixCopy(&g.deviceToWorld, &g.device);
    return &g.deviceToWorld;
}

RwBool Rw2dDeviceGetStep(RwV2d *xStep, RwV2d *yStep, RwV2d *origin)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (!g.open || !g.camera)
        return FALSE;
    UpdateDevice();
    const RwReal d = Depth();
    const RwV3d px = {-(g.viewW / g.rasterW) * d, 0.0f, 0.0f};
    const RwV3d py = {0.0f, (g.viewH / g.rasterH) * d, 0.0f};
    const RwV3d corner = {g.viewW * d * 0.5f, -(g.viewH * d * 0.5f), 0.0f};
    RwV3d out;
    if (xStep) {
        RwV3dTransformVector(&out, &px, &g.deviceInv);
        *xStep = {out.x, out.y};
    }
    if (yStep) {
        RwV3dTransformVector(&out, &py, &g.deviceInv);
        *yStep = {out.x, out.y};
    }
    if (origin) {
        RwV3dTransformPoint(&out, &corner, &g.deviceInv);
        *origin = {out.x, out.y};
    }
    return TRUE;
}

RwBool Rw2dDeviceSetMetric(RwReal x, RwReal y, RwReal w, RwReal h)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (!g.open || !g.camera || !(w != 0.0f) || !(h != 0.0f) || !std::isfinite(x) || !std::isfinite(y) ||
        !std::isfinite(w) || !std::isfinite(h))
        return FALSE;
    RwMatrixSetIdentity(&g.base);
    // The steps are measured under an identity CTM. A full stack cannot take
    // the push: the caller's top is kept aside and put back instead.
    const RwBool pushed = Rw2dCTMPush();
    RwMatrix keep;
    if (!pushed)
        RwMatrixCopy(&keep, g.stack[g.top]);
    Rw2dCTMSetIdentity();
    RwV2d xStep, yStep, origin;
    Rw2dDeviceGetStep(&xStep, &yStep, &origin);
    xStep.x *= g.rasterW / w;
    xStep.y *= g.rasterW / w;
    yStep.x *= g.rasterH / h;
    yStep.y *= g.rasterH / h;
    const RwV3d scale = {RwSqrt(xStep.x * xStep.x + xStep.y * xStep.y), RwSqrt(yStep.x * yStep.x + yStep.y * yStep.y),
                         1.0f};
    const RwV3d toOrigin = {origin.x, origin.y, 0.0f};
    const RwV3d fromCorner = {-x, -y, 0.0f};
    RwMatrixTranslate(&g.base, &toOrigin, rwCOMBINEPRECONCAT);
    RwMatrixScale(&g.base, &scale, rwCOMBINEPRECONCAT);
    RwMatrixTranslate(&g.base, &fromCorner, rwCOMBINEPRECONCAT);
    g.metricX = x;
    g.metricY = y;
    g.metricW = w;
    g.metricH = h;
    if (pushed)
        Rw2dCTMPop();
    else
        RwMatrixCopy(g.stack[g.top], &keep);
    InvalidateDevice();
    return TRUE;
}

RwBool Rw2dDeviceGetMetric(RwReal *x, RwReal *y, RwReal *w, RwReal *h)
{
    const Rw2dGlobals &g = rw2dGlobals;
    if (x)
        *x = g.metricX;
    if (y)
        *y = g.metricY;
    if (w)
        *w = g.metricW;
    if (h)
        *h = g.metricH;
    return g.open;
}

RwReal Rw2dDeviceGetFlatTolerance(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (g.toleranceValid)
        return g.tolerance;
    if (!g.open || !g.camera)
        return 0.0f;
    UpdateDevice();
    const RwV3d v = {(g.viewW / g.rasterW) * g.flatness * Depth(), 0.0f, 0.0f};
    RwV3d out;
    RwV3dTransformVector(&out, &v, &g.deviceInv);
    g.tolerance = out.x * out.x + out.y * out.y + out.z * out.z;
    g.toleranceValid = TRUE;
    return g.tolerance;
}

// Transformation stack ----------------------------------------------------------------------------

// Moves up one entry (making its matrix on first use); FALSE when full.
static RwMatrix *StackUp(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (!g.open || g.top >= static_cast<RwInt32>(rw2DCTMSTACKSIZE) - 1)
        return nullptr;
    if (!g.stack[g.top + 1]) {
        g.stack[g.top + 1] = RwMatrixCreate();
        if (!g.stack[g.top + 1])
            return nullptr;
    }
    g.top++;
    return g.stack[g.top];
}

RwBool Rw2dCTMPush(void)
{
    return Rw2dCTMPushConcat(nullptr);
}

RwBool Rw2dCTMPushConcat(const RwMatrix *matrix)
{
    InvalidateDevice();
    RwMatrix *top = StackUp();
    if (!top)
        return FALSE;
    const RwMatrix *previous = rw2dGlobals.stack[rw2dGlobals.top - 1];
    if (matrix)
        RwMatrixMultiply(top, matrix, previous);
    else
        RwMatrixCopy(top, previous);
    return TRUE;
}

RwBool Rw2dCTMPushSet(const RwMatrix *matrix)
{
    if (!matrix)
        return FALSE;
    InvalidateDevice();
    RwMatrix *top = StackUp();
    if (!top)
        return FALSE;
    RwMatrixCopy(top, matrix);
    return TRUE;
}

RwBool Rw2dCTMPop(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (!g.open || g.top <= 0)
        return FALSE;
    g.top--;
    InvalidateDevice();
    return TRUE;
}

RwBool Rw2dCTMSetIdentity(void)
{
    if (!rw2dGlobals.open)
        return FALSE;
    RwMatrixSetIdentity(rw2dGlobals.stack[rw2dGlobals.top]);
    InvalidateDevice();
    return TRUE;
}

RwBool Rw2dCTMScale(RwReal sx, RwReal sy)
{
    if (!rw2dGlobals.open)
        return FALSE;
    const RwV3d s = {sx, sy, 1.0f};
    RwMatrixScale(rw2dGlobals.stack[rw2dGlobals.top], &s, rwCOMBINEPRECONCAT);
    InvalidateDevice();
    return TRUE;
}

RwBool Rw2dCTMTranslate(RwReal tx, RwReal ty)
{
    if (!rw2dGlobals.open)
        return FALSE;
    const RwV3d t = {tx, ty, 0.0f};
    RwMatrixTranslate(rw2dGlobals.stack[rw2dGlobals.top], &t, rwCOMBINEPRECONCAT);
    InvalidateDevice();
    return TRUE;
}

RwMatrix *Rw2dCTMRead(void)
{
    return rw2dGlobals.open ? rw2dGlobals.stack[rw2dGlobals.top] : nullptr;
}

RwInt32 Rw2dCTMGetDepth(void)
{
    return rw2dGlobals.top;
}
