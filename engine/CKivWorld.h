// A named scene world: the graphics world of a ".bsp", its texture dictionary, and the clumps, cameras and lights placed in it.
#pragma once

#include <string>
#include <unordered_map>

#include "gfx/core/rwtypes.h"

struct RwWorld;
struct RwTextureDictionary;
class CKivAlphaManager;
class CKivCamera;
class CKivClump;
class CKivLight;

class CKivWorld
{
public:
    // Named after its own address; clear and fog colour opaque black.
    CKivWorld();
    // Clear and fog colour opaque white.
    explicit CKivWorld(const char *name);
    // Warns about objects still registered, takes them out, frees the world.
    virtual ~CKivWorld();

    // The dictionary may be null or missing (an empty one then); the world file may be null.
    int Load(const char *worldFile, const char *dictionaryFile, const char *imagePath);
    // Opaque pass, shadows, transparent pass, after-image.
    int Render();

    int SetCamera(CKivCamera *camera);
    int SetCameraByName(const char *name);
    int AddClump(CKivClump *clump);
    int RemoveClump(CKivClump *clump);
    int RemoveClumpByName(const char *name);
    int AddCamera(CKivCamera *camera);
    int RemoveCamera(CKivCamera *camera);
    int RemoveCameraByName(const char *name);
    int AddLight(CKivLight *light);
    int RemoveLight(CKivLight *light);
    int RemoveLightByName(const char *name);
    CKivClump *FindClump(const char *name) const;
    CKivCamera *FindCamera(const char *name) const;
    CKivLight *FindLight(const char *name) const;
    // The registered clump under the pixel, transparent parts and particles not counted.
    CKivClump *PickClump(int x, int y);
    void RemoveAll();


    const char *GetName() const { return m_name.c_str(); }
    RwWorld *GetWorld() const { return m_world; }
    RwTextureDictionary *GetTextureDictionary() const { return m_dictionary; }
    CKivCamera *GetCamera() const { return m_camera; }
    CKivAlphaManager *GetAlphaManager() const { return m_alphaManager; }
    CKivLight *GetMainLight() const { return m_mainLight; }
    void SetClearColor(const RwRGBA &colour) { m_clearColour = colour; }
    void SetFogColor(const RwRGBA &colour) { m_fogColour = colour; }
    void SetClearFlags(int image, int depth) { m_clearImage = image; m_clearDepth = depth; }
    void SetFog(int on) { m_fog = on; }
    float GetShadowDistanceFactor() const { return m_shadowFactor; }

private:
    void Init(const char *name, RwUInt8 colour);
    static std::string DictionaryVariant(const char *fileName, int quality);
    RwTextureDictionary *ReadDictionary(const char *fileName);
    int ReadWorld(const char *fileName);
    void RenderShadows();

    std::string m_name;                                     // lower case
    RwWorld *m_world;                                       // owned
    RwTextureDictionary *m_dictionary;                      // owned
    std::string m_dictionaryFile;                           // as Load was given it
    std::unordered_map<std::string, CKivCamera *> m_cameras;
    std::unordered_map<std::string, CKivLight *> m_lights;
    std::unordered_map<std::string, CKivClump *> m_clumps;
    CKivCamera *m_camera;                                   // the one Render draws through
    CKivAlphaManager *m_alphaManager;                       // owned, made by Load
    RwRGBA m_clearColour;
    RwRGBA m_fogColour;
    int m_clearImage;
    int m_clearDepth;
    int m_fog;
    CKivLight *m_mainLight;                                 // the last directional light added
    float m_shadowFactor;                                   // of the far clip: nearer clumps get shadows
};
