// A named engine light: one graphics light, with its own frame when loaded from a model file.
#pragma once

#include <string>

#include "gfx/core/rwtypes.h"

struct RwLight;
struct RwFrame;
class CKivWorld;

class CKivLight
{
public:
    // Named after its own address.
    CKivLight();
    explicit CKivLight(const char *name);
    // Destroys the graphics light and the frame this object made.
    virtual ~CKivLight();
    CKivLight(const CKivLight &) = delete;
    CKivLight &operator=(const CKivLight &) = delete;

    // An ambient light of the colour, without a frame.
    int Create(const RwRGBAReal *colour);
    // A copy of the model file's first light, placed at that light's world matrix.
    int Load(const char *fileName);
    void SetName(const char *name);

    const char *GetName() const { return m_name.c_str(); }
    RwLight *GetLight() const { return m_light; }
    CKivWorld *GetWorld() const { return m_world; }
    void SetWorld(CKivWorld *world) { m_world = world; }

private:
    void Release();

    std::string m_name;     // lower case
    RwLight *m_light;
    RwFrame *m_frame;       // the frame this object made and destroys
    CKivWorld *m_world;     // set while the light is in a world
};
