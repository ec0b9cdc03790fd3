// The engine's model object: a graphics clump with its name, animation queue, colours, render callbacks and shadow.
#pragma once

#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwClump;
struct RwFrame;
struct RwGeometry;
struct RwMatrix;
struct RwMaterial;
struct RwTexture;
struct RwAnimAnimation;
struct RwAnimInterpolator;
struct RwHAnimHierarchy;
class CKivAnimManager;
class CKivBehavior;
class CKivBehaviorManager;
class CKivShadow;
class CKivToon;
class CKivUVAnim;
class CKivWorld;
class CKivTextureTrailer;

// One motion of the queue.
struct KivAnimEntry {
    RwAnimAnimation *animation;     // the animation manager's
    float duration;                 // may be cut short when a motion is pushed after a clear
    float blendTime;                // seconds of cross-fade from the entry before
    int loopFlags;                  // non-zero: the last entry loops; exactly 1: loops backwards too
    int finished;                   // has begun its hand-over or was cut
};

class CKivClump
{
public:
    // Named after its own address.
    CKivClump();
    explicit CKivClump(const char *name);
    virtual ~CKivClump();
    CKivClump(const CKivClump &) = delete;
    CKivClump &operator=(const CKivClump &) = delete;
    // Releases everything; safe to repeat. A clump still in a world leaves it first.
    void Destroy();

    // Reads the ".dff" through the engine's archive; a missing file goes to "Object.txt".
    virtual int Load(const char *fileName, const char *imagePath);
    // Advances materials and the animation queue; 0 when an entry ended or began
    // its hand-over in this step, or the queue is idle.
    virtual int Update(float dt);
    int SetClump(RwClump *clump);
    int Clone(CKivClump *source);
    int CloneWithOwnGeometry(CKivClump *source);
    static RwGeometry *CopyGeometry(RwGeometry *geometry);
    static CKivClump *FromClump(RwClump *clump);
    static RwHAnimHierarchy *FindHierarchy(RwClump *clump);

    void SetName(const char *name);
    void SetTypeName(const char *typeName);
    const char *GetName() const { return m_name.c_str(); }
    const char *GetTypeName() const { return m_typeName; }
    RwClump *GetClump() const { return m_clump; }
    RwHAnimHierarchy *GetHierarchy() const { return m_hierarchy; }
    CKivWorld *GetWorld() const { return m_world; }
    void SetWorld(CKivWorld *world) { m_world = world; }

    // Animation queue. Refused (0) without a hierarchy or for a motion with
    // fewer nodes than the hierarchy. Entries and interpolators hold their
    // motions in the engine's animation manager while they play them.
    int PushAnimation(CKivAnimManager *manager, const char *motionName, float blendTime, int loopFlags);
    int PushAnimationEntry(RwAnimAnimation *animation, float blendTime, int loopFlags);
    // Pushes the behaviour's motions in order (those that load); 0 without it.
    int PlayBehavior(const char *name);
    CKivBehavior *CreateBehavior(const char *name, int soundIndex);
    CKivBehaviorManager *GetBehaviorManager() const { return m_behaviors; }
    void ClearAnimationQueue();
    int HasNextAnimation() const;
    KivAnimEntry *GetCurrentEntry() const;
    KivAnimEntry *GetLastEntry() const;
    float GetAnimationTime() const;
    float GetAnimationDuration() const;
    int WillAnimationEnd(float dt) const;
    int SetAnimationTime(float t);

    // Transforms of the root frame.
    void SetPosition(const RwV3d *position);
    void SetRotation(const RwV3d *axis, float degrees);
    void Rotate(const RwV3d *axis, float degrees);
    void SetScale(const RwV3d *scale);
    void SetAtomicScale(const char *atomicName, const RwV3d *scale);
    void SetAxisLengths(const RwV3d *lengths);
    void Transform(const RwMatrix *matrix);
    void Translate(const RwV3d *delta);
    void Scale(const RwV3d *scale);
    void MoveForward(float distance);
    void MoveRight(float distance);
    void MoveUp(float distance);
    RwFrame *GetFirstChildFrame() const;
    RwMatrix *GetAtomicMatrix(const char *atomicName);
    RwMatrix *GetFrameMatrix(const char *frameName);
    void UpdateObjects();
    void CopyPose(CKivClump *source);

    // Named parts.
    RwAtomic *FindAtomic(const char *name) const;
    RwFrame *FindFrame(const char *name) const;
    int AttachAtomic(RwAtomic *atomic, RwFrame *frame);
    int DetachAtomic(RwAtomic *atomic);
    int AdoptAtomics(CKivClump *other);

    // Materials and colour.
    void SetColor(const RwRGBA *colour);
    void SetColorRGB(const RwRGBA *colour);
    void SetAlpha(int alpha);
    void SetAtomicAlpha(RwAtomic *atomic, int alpha);
    void SetAtomicColor(RwAtomic *atomic, const RwRGBA *colour);
    void SetAlphaAttribute(int flags);
    int SetMaterialTexture(const char *materialName, RwTexture *texture);
    int SetMaterialTextureByName(const char *materialName, const char *textureName);
    // The named atomic's first material scrolls the object's texture (not on skinned geometry).
    int ApplyUVAnim(const char *atomicName, CKivUVAnim *uvAnim);
    void CollectUVAnimMaterials();
    // The atomic's first material shows the trailer's frames from now on
    // (the trailer stays its owner's); 0 when nothing can show it.
    int SetTextureTrailer(const char *atomicName, CKivTextureTrailer *trailer);
    // An owner about to delete a trailer unbinds it first.
    void RemoveTextureTrailer(CKivTextureTrailer *trailer);
    // Restores the alpha atomics, applies the toon (or removes the previous
    // one for null) and switches the alpha atomics again.
    void SetToon(CKivToon *toon);
    CKivToon *GetToon() const { return m_toon; }

    // Particles, shadow, drawing, screen positions.
    float UpdateParticles(float dt);
    float GetParticleTime() const { return m_particleTime; }
    void SyncParticleFrames();
    int CreateShadow(CKivClump *shadowModel, float size);
    void DestroyShadow();
    CKivShadow *GetShadow() const { return m_shadow; }
    void SetShadowEnabled(int on) { m_shadowEnabled = on; }
    int GetShadowEnabled() const { return m_shadowEnabled; }
    void Render();
    // (-1, -1) when the point cannot be seen through the world's camera.
    RwV2d GetAtomicScreenPosition(const char *atomicName);
    RwV2d GetScreenPositionAbove(float height, float screenWidth, float screenHeight);

    // Bone scaling.
    void InitNodeScales();
    int SetNodeScale(int node, float first, float second);
    void ApplyNodeScales();
    int ScaleNodeMatrix(int node, float x, float y, float z);

    // Render callbacks: transparent atomics defer themselves to the alpha manager.
    static RwAtomic *SetupAlphaAtomic(RwAtomic *atomic);
    void SetupAlphaAtomics();
    static RwAtomic *RestoreAlphaAtomic(RwAtomic *atomic);
    void RestoreAlphaAtomics();
    static int GetAlphaFlags(RwAtomic *atomic);
    static RwAtomic *AlphaRenderCallBack(RwAtomic *atomic);
    static RwAtomic *NullRenderCallBack(RwAtomic *atomic);
    void HideBoneShapes();

private:
    void Init(const char *name);
    void ReleaseModel();
    void DeleteEntry(KivAnimEntry *entry);
    int Play(int slot, RwAnimInterpolator *interpolator, RwAnimAnimation *animation);
    void SetupHierarchy(int nodeScales);
    void WriteClumpUserData();
    int CloneFrom(CKivClump *source, int ownGeometry);
    void ReleaseAnimation();
    void ClearQueue();
    int UpdateQueue(float dt);
    void SwitchByAlpha(int alpha);
    void SetMaterials(RwAtomic *atomic, const RwRGBA *colour, int rgb, int alpha);
    int AddUVAnimMaterial(RwMaterial *material);
    void DropOrphanMaterials();
    void ReleaseBoundMaterials();

    std::string m_name;                         // lower case
    RwClump *m_clump;                           // owned
    std::list<KivAnimEntry *> m_queue;          // owned entries, in play order
    std::list<KivAnimEntry *>::iterator m_current;
    RwHAnimHierarchy *m_hierarchy;              // the clump's
    RwAnimInterpolator *m_blendA;               // owned; cross-fades only
    RwAnimInterpolator *m_blendB;
    std::vector<float> m_nodeScales;            // six per node: 0, first, second, 0, 0, 0
    RwAnimAnimation *m_playing[3];              // held for the hierarchy's interpolator, A and B
    float m_particleTime;
    CKivToon *m_toon;                           // the game's
    CKivShadow *m_shadow;                       // owned
    // Each material here holds a reference of its own, so one whose atomic
    // went away is never written freed; Update lets such orphans go.
    std::set<RwMaterial *> m_uvMaterials;
    std::map<RwMaterial *, CKivTextureTrailer *> m_trailers;   // the trailers are not owned
    int m_queueIdle;
    int m_shadowEnabled;
    char m_typeName[32];
    CKivWorld *m_world;                         // set while registered in a world
    CKivBehaviorManager *m_behaviors;           // owned
};
