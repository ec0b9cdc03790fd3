// A named scene world: the graphics world of a ".bsp", its texture dictionary, and the clumps, cameras and lights placed in it.
#pragma once

#include <string>
#include <vector>

#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwBBox;
struct RwWorld;
struct RwWorldSector;
struct RwTextureDictionary;
class CKivAlphaManager;
class CKivCamera;
class CKivClump;
class CKivLight;

// What the level tools mark on world sectors and atomics, one bit per material
// name prefix ('_' and a letter in either case).
enum KivNameFlag : RwInt32 {
    kKivNameFlagF = 0x01,             // "_f"
    kKivNameFlagN = 0x02,             // "_n"
    kKivNameFlagTransparent = 0x04,   // "_t": drawn in the back-to-front pass
    kKivNameFlagAdditive = 0x08,      // "_a": added onto what lies below
    kKivNameFlagL = 0x10,             // "_l"
};

class CKivWorld
{
public:
    // Named after its own address; clear and fog colour opaque black.
    CKivWorld();
    // Clear and fog colour opaque white.
    explicit CKivWorld(const char *name);
    // Warns about objects still registered, takes them out, frees the world.
    virtual ~CKivWorld();
    CKivWorld(const CKivWorld &) = delete;
    CKivWorld &operator=(const CKivWorld &) = delete;

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

    // Level tools: the game itself never calls them. Each returns 1 on success.
    // A new empty graphics world for the box (and an empty dictionary); 0 when one exists.
    int CreateEmpty(const RwBBox *box);
    // The graphics world as a ".bsp"; the current texture dictionary in the device's own form.
    int WriteWorld(const char *fileName) const;
    int WriteCurrentDictionary(const char *fileName) const;
    // Marks every sector and every atomic of the world's clumps with the
    // prefixes of the material names they use (kKivNameFlag bits).
    int FlagFromMaterialNames();
    static RwInt32 GetSectorFlags(const RwWorldSector *sector);
    static RwInt32 GetAtomicFlags(const RwAtomic *atomic);
    // This world's dictionary as Load reads it at each texture quality: as it
    // is, then halved as "_1.txd", then halved again as "_2.txd". Null names
    // the dictionary file Load read at full quality (0 when it read none).
    int WriteReducedDictionaries(const char *fileName = nullptr) const;
    // 1 when no static triangle lies between the current camera and the point;
    // 0 when one does, for a point that is not finite, or without a camera or world.
    int IsInSight(const RwV3d *point) const;
    // Every static triangle: u32 total, then per sector a u32 count and nine
    // float32 coordinates per triangle, little-endian.
    int WriteTriangles(const char *fileName) const;

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
    // The texture quality whose dictionary variant a load reads.
    static int DictionaryQuality();
    // From files read whole before the render lock was taken.
    RwTextureDictionary *ReadDictionary(const unsigned char *bytes, unsigned long size);
    int ReadWorld(const unsigned char *bytes, unsigned long size);
    void MoveObjectsTo(RwWorld *world);
    void RenderShadows();
    // A camera the graphics library moved into another world: no longer
    // registered here, nor current. Allocates nothing.
    void ForgetCamera(CKivCamera *camera);

    std::string m_name;                                     // lower case
    RwWorld *m_world;                                       // owned
    RwTextureDictionary *m_dictionary;                      // owned
    std::string m_dictionaryFile;                           // as Load read it at full quality
    // Held by identity in the order added; a name is looked up as the object
    // holds it now, so a rename while registered changes nothing here.
    std::vector<CKivCamera *> m_cameras;
    std::vector<CKivLight *> m_lights;
    std::vector<CKivClump *> m_clumps;
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
