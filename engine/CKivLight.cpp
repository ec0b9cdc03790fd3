// A named engine light: one graphics light, with its own frame when loaded from a model file.
#include "engine/CKivLight.h"

#include "engine/CKivWorld.h"
#include "engine/KivEngineLock.h"
#include "engine/KivModelFile.h"
#include "engine/KivNames.h"
#include "gfx/core/frame.h"
#include "gfx/core/stream.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"

namespace {

// A new light with the loaded one's kind, radius, cone and colour, on a new
// frame at the loaded one's world matrix (identity for a light without a frame).
RwLight *CopyLight(const RwLight *source, RwFrame **frameOut)
{
    RwLight *light = RwLightCreate(RwLightGetType(source));
    RwFrame *frame = light ? RwFrameCreate() : nullptr;
    if (!frame) {
        if (light)
            RwLightDestroy(light);
        return nullptr;
    }
    RwLightSetRadius(light, source->radius);
    RwLightSetConeAngle(light, RwLightGetConeAngle(source));
    RwLightSetColor(light, &source->color);
    RwFrame *placed = RwLightGetFrame(source);
    if (placed)
        RwFrameTransform(frame, RwFrameGetWorldMatrix(placed), rwCOMBINEREPLACE);
    RwLightSetFrame(light, frame);
    *frameOut = frame;
    return light;
}

RwLight *TakeFirst(RwLight *light, void *data)
{
    *static_cast<RwLight **>(data) = light;
    return nullptr;
}

} // namespace

CKivLight::CKivLight() : CKivLight(nullptr)
{
}

CKivLight::CKivLight(const char *name) : m_light(nullptr), m_frame(nullptr), m_world(nullptr)
{
    KivSetObjectName(&m_name, this, name);
}

CKivLight::~CKivLight()
{
    EngineLock lock;
    // The world may not keep pointing at a light deleted in it.
    if (m_world)
        m_world->RemoveLight(this);
    Release();
}

void CKivLight::Release()
{
    if (m_light) {
        RwLightSetFrame(m_light, nullptr);
        RwLightDestroy(m_light);
        m_light = nullptr;
    }
    if (m_frame) {
        RwFrameDestroy(m_frame);
        m_frame = nullptr;
    }
}

// Without memory for the new name the old one stays.
void CKivLight::SetName(const char *name)
{
    KivSetObjectName(&m_name, this, name);
}

int CKivLight::Create(const RwRGBAReal *colour)
{
    EngineLock lock;
    Release();
    m_light = RwLightCreate(rwLIGHTAMBIENT);
    if (!m_light)
        return 0;
    RwLightSetColor(m_light, colour);
    return 1;
}

// The copy outlives the file's model (or bare light), which goes at once.
int CKivLight::Load(const char *fileName)
{
    EngineLock lock;
    KivModelFile file;
    if (!file.Open(fileName))
        return 0;
    RwLight *loaded = nullptr;
    RwClump *model = nullptr;
    if (RwStreamFindChunk(file.Stream(), rwID_LIGHT, nullptr, nullptr)) {
        loaded = RwLightStreamRead(file.Stream());
    } else if ((model = file.ReadClump()) != nullptr) {
        RwClumpForAllLights(model, TakeFirst, &loaded);
        if (loaded && !RwLightGetFrame(loaded))
            loaded = nullptr;
    }
    RwFrame *frame = nullptr;
    RwLight *copy = loaded ? CopyLight(loaded, &frame) : nullptr;
    if (model)
        RwClumpDestroy(model);
    else if (loaded)
        RwLightDestroy(loaded);
    if (!copy)
        return 0;
    Release();
    m_light = copy;
    m_frame = frame;
    return 1;
}
