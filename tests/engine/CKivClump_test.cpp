// Engine clumps: names, loads, transparent classification and switching, clones, the animation queue, bounds.
#include "engine_host.h"
#include "sample/avatar_data.h"
#include "sample/engine_scene.h"
#include "motion_files.h"
#include "support/failnew/fail_new.h"

#include <cmath>

#include "engine/CKivAnimManager.h"
#include "engine/CKivCamera.h"
#include "engine/CKivBehavior.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/CKivShadow.h"
#include "engine/CKivToon.h"
#include "engine/CKivUVAnim.h"
#include "engine/CKivWorld.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/plugins/uvanim/uva_bytes.h"
#include "gfx/plugins/toon/toon.h"
#include "engine/KivBounds.h"
#include "engine/KivUserData.h"
#include "gfx/core/frame.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/d3d9/d3d9device.h"
#include "tests/gfx/d3d9/d3d9readback.h"

namespace {

auto *const host = HostEngine();

std::vector<RwAtomic *> Atomics(CKivClump &clump)
{
    std::vector<RwAtomic *> all;
    RwClumpForAllAtomics(clump.GetClump(), [](RwAtomic *a, void *d) { static_cast<std::vector<RwAtomic *> *>(d)->push_back(a); return a; }, &all);
    return all;
}

RwAtomic *FirstAtomic(CKivClump &clump)
{
    return Atomics(clump).at(0);
}

int RenderArrays(RwGeometry *g)
{
    int n = 0;
    for (RwInt32 i = 0; i < RwUserDataGeometryGetArrayCount(g); i++)
        n += !strcmp(RwUserDataGeometryGetArray(g, i)->name, "render");
    return n;
}

int Load(CKivClump &clump, const KivTestQuad &quad, const char *file = "part.dff")
{
    WriteFileBytes(file, KivTestModel({{quad, {0, 1, 0}}}));
    return clump.Load(file, nullptr);
}

TEST(Clump, NamesAreLowerCaseOrTheAddress)
{
    CKivClump unnamed, named("Hero.DFF");
    char address[32];
    snprintf(address, sizeof(address), "%p", static_cast<void *>(&unnamed));
    EXPECT_STREQ(CharLowerA(address), unnamed.GetName());
    EXPECT_STREQ("hero.dff", named.GetName());
    named.SetTypeName("a-type-name-longer-than-thirty-one-characters");
    EXPECT_EQ(31u, strlen(named.GetTypeName()));
}

TEST(Clump, MissingAndBrokenFilesFailTheLoad)
{
    CKivClump clump;
    remove("absent.dff");
    EXPECT_EQ(0, clump.Load("absent.dff", nullptr));
    const std::string log = ReadFileBytes("Object.txt");
    EXPECT_EQ("absent.dff\r\n", log.substr(log.size() - 12));   // text mode
    const std::string model = KivTestModel({{KivTestQuad(), {0, 1, 0}}});
    for (size_t cut = 0; cut < model.size(); cut += 7) {
        WriteFileBytes("cut.dff", model.substr(0, cut));
        EXPECT_EQ(0, clump.Load("cut.dff", nullptr)) << cut;
    }
    EXPECT_EQ(nullptr, clump.GetClump());
    // Failed loads leave a clump that answers every query harmlessly.
    EXPECT_EQ(0, clump.Update(0.5f));
    EXPECT_EQ(0, clump.PushAnimationEntry(nullptr, 0.0f, 0));
    EXPECT_EQ(0, clump.SetAnimationTime(0.0f));
    EXPECT_EQ(0.0f, clump.GetAnimationTime());
    EXPECT_EQ(nullptr, clump.FindAtomic(nullptr));
    EXPECT_EQ(nullptr, clump.FindFrame(nullptr));
    const RwV2d screen = clump.GetScreenPositionAbove(1.0f, 1024, 768);
    EXPECT_EQ(-1.0f, screen.x);
    EXPECT_EQ(-1.0f, clump.GetAtomicScreenPosition("x").y);
}

TEST(Clump, FirstMaterialDecidesTransparency)
{
    struct Case {
        const char *material;
        RwUInt8 alpha;
        const char *second;
        bool switched;
        int flags;
    } cases[] = {
        {"_t", 255, nullptr, true, 0},   {"_Tree", 255, nullptr, true, 0}, {"_a", 255, nullptr, true, 1},
        {"_Add", 255, nullptr, true, 1}, {"_x", 255, nullptr, false, 0},   {"_x", 100, nullptr, true, 0},
        {nullptr, 0, nullptr, false, 0}, {nullptr, 1, nullptr, true, 0},    {nullptr, 254, nullptr, true, 0},
        {"plain", 255, "_t", false, 0},  {"", 255, nullptr, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.material ? c.material : "(none)");
        KivTestQuad quad;
        quad.material = c.material;
        quad.colour.alpha = c.alpha;
        quad.second = c.second;
        CKivClump clump;
        ASSERT_EQ(1, Load(clump, quad));
        RwAtomic *atomic = FirstAtomic(clump);
        EXPECT_EQ(c.switched, atomic->renderCallBack == CKivClump::AlphaRenderCallBack);
        EXPECT_EQ(c.switched, AtomicGetSavedRenderCallBack(atomic) == RwAtomicDefaultRenderCallBack);
        EXPECT_EQ(c.flags, CKivClump::GetAlphaFlags(atomic));
    }
}

TEST(Clump, BoneShapesHideAndFileRenderArraysAreDropped)
{
    const struct {
        const char *name;
        bool hidden;
    } shapes[] = {{"Bip01 Head", true}, {"bIP", true}, {"Box", false}, {"Bi", false}};
    for (const auto &s : shapes) {
        KivTestQuad quad;
        quad.name = s.name;
        CKivClump clump;
        ASSERT_EQ(1, Load(clump, quad));
        EXPECT_EQ(s.hidden, FirstAtomic(clump)->renderCallBack == CKivClump::NullRenderCallBack) << s.name;
    }
    // A model file's own "render" array never becomes a callback.
    KivTestQuad hostile;
    hostile.renderArray = true;
    CKivClump clump;
    ASSERT_EQ(1, Load(clump, hostile));
    RwAtomic *atomic = FirstAtomic(clump);
    EXPECT_EQ(0, RenderArrays(atomic->geometry));
    EXPECT_EQ(RwAtomicDefaultRenderCallBack, atomic->renderCallBack);
    hostile.material = "_t";
    ASSERT_EQ(1, Load(clump, hostile));
    atomic = FirstAtomic(clump);
    EXPECT_EQ(1, RenderArrays(atomic->geometry));
    EXPECT_EQ(RwAtomicDefaultRenderCallBack, AtomicGetSavedRenderCallBack(atomic));
}

TEST(Clump, FrameDataMapsTheGraphicsClumpBack)
{
    CKivClump clump;
    ASSERT_EQ(1, Load(clump, KivTestQuad()));
    EXPECT_EQ(&clump, CKivClump::FromClump(clump.GetClump()));
    RwClump *foreign = RwClumpCreate();
    RwClumpSetFrame(foreign, RwFrameCreate());
    EXPECT_EQ(nullptr, CKivClump::FromClump(foreign));
    KivTestAddString(RwClumpGetFrame(foreign), rwKINDFRAME, "x", "KivClump");   // wrong format
    EXPECT_EQ(nullptr, CKivClump::FromClump(foreign));
    CKivClump adopted;
    ASSERT_EQ(1, adopted.SetClump(foreign));
    EXPECT_EQ(&adopted, CKivClump::FromClump(foreign));
    // No atomics: a sphere of radius 0 at the root.
    RwSphere sphere;
    ClumpGetBoundingSphere(&sphere, foreign);
    EXPECT_EQ(0.0f, sphere.radius);
}

TEST(Clump, AlphaSwitchingKeepsAdditivePartsAndClonesDrawing)
{
    KivTestQuad glass, glow;
    glass.material = "_t";
    glow.material = "_a";
    WriteFileBytes("two.dff", KivTestModel({{glass, {0, 1, 0}}, {glow, {0, 2, 0}}}));
    CKivClump source, copy, own;
    ASSERT_EQ(1, source.Load("two.dff", nullptr));
    ASSERT_EQ(1, copy.Clone(&source));
    ASSERT_EQ(1, own.CloneWithOwnGeometry(&source));
    EXPECT_EQ(&copy, CKivClump::FromClump(copy.GetClump()));

    const std::vector<RwAtomic *> s = Atomics(source), c = Atomics(copy);
    ASSERT_EQ(2u, c.size());
    for (RwAtomic *a : c)
        EXPECT_EQ(CKivClump::AlphaRenderCallBack, a->renderCallBack);

    // Alpha 255 restores the "_t" part of the copy only; the source still defers it.
    copy.SetAlpha(255);
    int restored = 0;
    for (size_t i = 0; i < 2; i++) {
        restored += c[i]->renderCallBack != CKivClump::AlphaRenderCallBack;
        EXPECT_NE(nullptr, AtomicGetSavedRenderCallBack(s[i]));
        EXPECT_EQ(1, RenderArrays(s[i]->geometry));
    }
    EXPECT_EQ(1, restored);
    copy.SetAlpha(128);   // switched again without a second array
    for (size_t i = 0; i < 2; i++) {
        EXPECT_EQ(CKivClump::AlphaRenderCallBack, c[i]->renderCallBack);
        EXPECT_EQ(1, RenderArrays(c[i]->geometry));
    }

    // Own geometry: colour changes stay with the copy.
    RwAtomic *ownFirst = FirstAtomic(own);
    ASSERT_NE(nullptr, ownFirst);
    EXPECT_NE(s[0]->geometry, ownFirst->geometry);
    const RwRGBA red = {255, 0, 0, 255};
    own.SetColorRGB(&red);
    for (RwAtomic *a : s)
        EXPECT_EQ(255, a->geometry->matList.materials[0]->color.green);
    // An atomic already in a clump is not attached again.
    EXPECT_EQ(1, own.AttachAtomic(s[0], nullptr));
    EXPECT_EQ(source.GetClump(), s[0]->clump);
}

TEST(Clump, OpaquePartsSwitchWithTheirAlpha)
{
    CKivClump clump;
    ASSERT_EQ(1, Load(clump, KivTestQuad()));
    RwAtomic *atomic = FirstAtomic(clump);
    clump.SetAlpha(0);
    EXPECT_EQ(RwAtomicDefaultRenderCallBack, atomic->renderCallBack);
    clump.SetAlpha(128);
    EXPECT_EQ(CKivClump::AlphaRenderCallBack, atomic->renderCallBack);
    EXPECT_EQ(128, atomic->geometry->matList.materials[0]->color.alpha);
    clump.SetAlpha(255);
    EXPECT_EQ(RwAtomicDefaultRenderCallBack, atomic->renderCallBack);
    EXPECT_EQ(0, RenderArrays(atomic->geometry));
    const RwRGBA half = {10, 20, 30, 100};
    clump.SetColor(&half);
    EXPECT_EQ(CKivClump::AlphaRenderCallBack, atomic->renderCallBack);
    EXPECT_TRUE(atomic->geometry->flags & rwGEOMETRYMODULATEMATERIALCOLOR);
}

TEST(Clump, BoundsOfOneAtomic)
{
    CKivClump clump;
    ASSERT_EQ(1, Load(clump, KivTestQuad()));
    RwFrameGetWorldMatrix(RwClumpGetFrame(clump.GetClump()));
    const RwSphere *own = RwAtomicGetWorldBoundingSphere(FirstAtomic(clump));
    RwSphere sphere;
    ClumpGetBoundingSphere(&sphere, clump.GetClump());
    EXPECT_NEAR(own->radius * std::sqrt(3.0f), sphere.radius, 1e-4f);
    EXPECT_NEAR(1.0f, sphere.center.y, 1e-4f);
    RwBBox box;
    ClumpGetBoundingBox(&box, clump.GetClump());
    EXPECT_NEAR(1.0f, box.sup.x, 1e-5f);
    EXPECT_NEAR(-1.0f, box.inf.z, 1e-5f);
    EXPECT_NEAR(1.0f, box.inf.y, 1e-5f);
    const RwV3d point = {0, 5, 0};
    ClumpGetBoundingSphereAround(&sphere, clump.GetClump(), &point);
    EXPECT_NEAR(5.0f - (1.0f - own->radius), sphere.radius, 1e-4f);
}

// One part lies beyond the other on every axis, in either order in the file:
// the box and the sphere reach both parts' far sides, the top in z included.
TEST(Clump, BoundsOfTwoAtomicsReachBoth)
{
    KivTestQuad half;
    half.half = 0.5f;
    const KivTestPart low = {KivTestQuad(), {0, 1, 0}}, high = {half, {3, 2, 4}};
    const std::vector<KivTestPart> orders[2] = {{low, high}, {high, low}};
    for (const std::vector<KivTestPart> &parts : orders) {
        WriteFileBytes("pair.dff", KivTestModel(parts));
        CKivClump clump;
        ASSERT_EQ(1, clump.Load("pair.dff", nullptr));
        RwBBox box;
        ClumpGetBoundingBox(&box, clump.GetClump());
        const RwV3d inf = {-1, 1, -1}, sup = {3.5f, 2, 4.5f};
        for (int axis = 0; axis < 3; axis++) {
            EXPECT_NEAR((&inf.x)[axis], (&box.inf.x)[axis], 1e-5f) << axis;
            EXPECT_NEAR((&sup.x)[axis], (&box.sup.x)[axis], 1e-5f) << axis;
        }
        // The sphere halves the box around both parts' own spheres.
        RwBBox around = {{-1e9f, -1e9f, -1e9f}, {1e9f, 1e9f, 1e9f}};   // sup, inf: emptier than any box
        RwClumpForAllAtomics(
            clump.GetClump(),
            [](RwAtomic *atomic, void *data) {
                RwBBox *b = static_cast<RwBBox *>(data);
                const RwSphere *s = RwAtomicGetWorldBoundingSphere(atomic);
                for (int axis = 0; axis < 3; axis++) {
                    (&b->sup.x)[axis] = std::fmax((&b->sup.x)[axis], (&s->center.x)[axis] + s->radius);
                    (&b->inf.x)[axis] = std::fmin((&b->inf.x)[axis], (&s->center.x)[axis] - s->radius);
                }
                return atomic;
            },
            &around);
        RwSphere sphere;
        ClumpGetBoundingSphere(&sphere, clump.GetClump());
        RwV3d diagonal;
        RwV3dSub(&diagonal, &around.sup, &around.inf);
        for (int axis = 0; axis < 3; axis++)
            EXPECT_NEAR(((&around.inf.x)[axis] + (&around.sup.x)[axis]) / 2, (&sphere.center.x)[axis], 1e-4f)
                << axis;
        EXPECT_NEAR(RwV3dLength(&diagonal) / 2, sphere.radius, 1e-4f);
        EXPECT_GT(sphere.center.z, 1.5f);
    }
}

// A clump whose root frame's child owns a hierarchy of that many nodes.
RwClump *Skeleton(RwInt32 nodes, RwInt32 hierarchyFlags = 0)
{
    RwClump *rw = RwClumpCreate();
    RwFrame *root = RwFrameCreate(), *bone = RwFrameCreate();
    RwClumpSetFrame(rw, root);
    RwFrameAddChild(root, bone);
    const RwInt32 flags[2] = {nodes > 1 ? 2 : 0, 0}, ids[2] = {1, 2};
    RwHAnimFrameSetHierarchy(bone, RwHAnimHierarchyCreate(nodes, flags, ids, hierarchyFlags, 36));
    return rw;
}

// A one-node skeleton whose motions move the node along x by their own clock:
// x = offset + time, so the node's position tells the time and the blend.
class Queue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1, clump.SetClump(Skeleton(1)));
        ASSERT_NE(nullptr, clump.GetHierarchy());
    }
    void TearDown() override
    {
        clump.Destroy();
        for (RwAnimAnimation *a : motions)
            RwAnimAnimationDestroy(a);
    }
    RwAnimAnimation *Motion(float duration, float offset, int nodes = 1)
    {
        RwAnimAnimation *a = RwAnimAnimationCreate(1, 2 * nodes, 0, duration);
        RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
        for (int i = 0; i < 2 * nodes; i++) {
            const float t = i < nodes ? 0.0f : duration;
            k[i] = {i < nodes ? nullptr : &k[i - nodes], t, {0, 0, 0, 1}, {offset + t, 0, 0}};
        }
        motions.push_back(a);
        return a;
    }
    float X() const { return clump.GetHierarchy()->pMatrixArray[0].pos.x; }

    CKivClump clump;
    std::vector<RwAnimAnimation *> motions;
};

TEST_F(Queue, CrossFadeAndHandOver)
{
    EXPECT_EQ(-1.0f, clump.GetAnimationDuration());
    clump.ClearAnimationQueue();   // empty: nothing to mark
    ASSERT_EQ(1, clump.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 0));
    ASSERT_EQ(1, clump.PushAnimationEntry(Motion(2.0f, 100.0f), 0.25f, 0));
    EXPECT_EQ(1, clump.HasNextAnimation());
    EXPECT_EQ(1, clump.Update(0.7f));
    EXPECT_NEAR(0.7f, X(), 1e-4f);
    EXPECT_EQ(0, clump.Update(0.1f));   // the hand-over begins
    EXPECT_EQ(1, clump.Update(0.1f));
    // factor (0.9 - 0.75) / 0.25 = 0.6 between 0.75 and 100.15
    EXPECT_NEAR(0.4f * 0.75f + 0.6f * 100.15f, X(), 1e-3f);
    EXPECT_EQ(1, clump.Update(0.2f));   // past the end of the first: the second at 0.35
    EXPECT_NEAR(100.35f, X(), 1e-3f);
    EXPECT_EQ(0, clump.HasNextAnimation());
    EXPECT_FLOAT_EQ(2.0f, clump.GetAnimationDuration());
    EXPECT_EQ(0, clump.WillAnimationEnd(0.1f));
    EXPECT_EQ(1, clump.WillAnimationEnd(2.0f));
    // Not looping: it stops on its last pose and the queue goes idle.
    EXPECT_EQ(0, clump.Update(5.0f));
    EXPECT_NEAR(102.0f, X(), 1e-3f);
    EXPECT_EQ(0, clump.Update(0.1f));
    EXPECT_NEAR(102.0f, X(), 1e-3f);
}

TEST_F(Queue, SkipsThroughAWholeMotionInOneStep)
{
    clump.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 0);
    clump.PushAnimationEntry(Motion(2.0f, 100.0f), 0.25f, 0);
    clump.PushAnimationEntry(Motion(1.0f, 200.0f), 0.25f, 1);
    clump.Update(3.0f);
    EXPECT_NEAR(200.5f, X(), 1e-3f);
    EXPECT_EQ(motions[2], clump.GetCurrentEntry()->animation);
    EXPECT_EQ(1, clump.Update(0.2f));
    EXPECT_EQ(0, clump.Update(0.6f));   // the loop wraps
    EXPECT_NEAR(200.3f, X(), 1e-3f);
}

// Backwards: a loop flag of exactly 1 wraps past the start; any other flag
// stops at 0 (forward, any flag but 0 wraps past the end).
TEST_F(Queue, PlayingBackwardsWrapsOnlyForLoopFlagOne)
{
    const struct {
        int loop;
        float forward, back, x;
    } cases[] = {{1, 0.25f, -0.5f, 0.75f}, {0, 0.25f, -0.5f, 0.0f}, {2, 0.25f, -0.5f, 0.0f},
                 {0, 0.5f, -0.2f, 0.3f},   {1, 0.5f, -0.2f, 0.3f},  {0, 0.5f, -0.5f, 0.0f},
                 {2, 1.25f, -0.2f, 0.05f}};
    for (const auto &c : cases) {
        clump.ClearAnimationQueue();
        clump.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, c.loop);
        clump.Update(c.forward);
        clump.Update(c.back);
        EXPECT_NEAR(c.x, X(), 1e-4f) << "loop " << c.loop << " " << c.forward << " " << c.back;
        EXPECT_NEAR(c.x, clump.GetAnimationTime(), 1e-4f);
    }
}

TEST_F(Queue, BlendsLongerThanTheMotionStayWithinOne)
{
    clump.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 0);
    clump.PushAnimationEntry(Motion(2.0f, 100.0f), 5.0f, 0);
    clump.Update(0.5f);
    EXPECT_NEAR(0.5f * 0.0f + 0.5f * 100.5f, X(), 1e-3f);
    clump.PushAnimationEntry(Motion(2.0f, 300.0f), -1.0f, 0);
    EXPECT_EQ(0.0f, clump.GetLastEntry()->blendTime);
}

TEST_F(Queue, PushAfterAClearCutsTheFrozenMotion)
{
    clump.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 0);
    clump.Update(0.3f);
    clump.ClearAnimationQueue();
    EXPECT_EQ(0, clump.Update(0.1f));   // idle: frozen
    EXPECT_NEAR(0.3f, X(), 1e-4f);
    clump.PushAnimationEntry(Motion(1.0f, 100.0f), 0.25f, 0);
    EXPECT_NEAR(0.55f, clump.GetCurrentEntry()->duration, 1e-5f);
    EXPECT_EQ(1, clump.GetCurrentEntry()->finished);
    clump.Update(0.125f);   // halfway through the blend
    EXPECT_NEAR(0.5f * 0.3f + 0.5f * 100.125f, X(), 1e-3f);
}

TEST_F(Queue, RefusesMotionsThatDoNotDriveEveryNode)
{
    CKivClump two;
    ASSERT_EQ(1, two.SetClump(Skeleton(2)));
    EXPECT_EQ(0, two.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 0));
    EXPECT_EQ(1, two.PushAnimationEntry(Motion(1.0f, 0.0f, 2), 0.0f, 0));
    CKivClump boneless;
    ASSERT_EQ(1, Load(boneless, KivTestQuad()));
    EXPECT_EQ(1, boneless.WillAnimationEnd(0.0f));
    EXPECT_EQ(0, boneless.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 0));
}

TEST_F(Queue, BehavioursPushTheirMotionsWhichStayHeldWhilePlayed)
{
    WriteMotion("Data/Avatar/Motions/step.anm", 1, 1.0f);
    WriteMotion("Data/Avatar/Motions/turn.anm", 1, 2.0f);
    CKivBehavior *walk = clump.CreateBehavior("Walk", -1);
    ASSERT_NE(nullptr, walk);
    walk->AddMotion("step", 0.0f, 0);
    walk->AddMotion("turn", 0.25f, 1);
    EXPECT_EQ(0, clump.PlayBehavior("walk"));   // names are exact
    EXPECT_EQ(nullptr, clump.GetCurrentEntry());
    ASSERT_EQ(1, clump.PlayBehavior("Walk"));
    EXPECT_EQ(1, clump.HasNextAnimation());
    CKivAnimManager *manager = HostedEngine<>::base->GetAnimManager();
    RwAnimAnimation *step = manager->FindAnimation("step");
    EXPECT_EQ(2, manager->GetHoldCount(step));   // its entry and the interpolator
    EXPECT_EQ(0, clump.PushAnimation(manager, "absent", 0.0f, 0));
    clump.Update(0.5f);
    clump.Update(0.6f);   // the turn takes over; the step is let go
    EXPECT_EQ(0, manager->GetHoldCount(step));
    RwAnimAnimation *turn = manager->FindAnimation("turn");
    EXPECT_EQ(2, manager->GetHoldCount(turn));
    // Removed from the manager while it plays: it lives until the clump lets go.
    EXPECT_TRUE(manager->RemoveAnimation("turn"));
    EXPECT_TRUE(manager->RemoveAnimation("step"));
    EXPECT_EQ(nullptr, manager->FindAnimation("turn"));
    clump.Update(0.1f);
    EXPECT_NEAR(0.35f + 0.1f, clump.GetAnimationTime(), 1e-4f);
    clump.Destroy();
    EXPECT_EQ(0, manager->GetHoldCount(turn));
}

// Memory running out in a push, onto an empty queue or after a clear, leaves
// the queue, the played motion and the motion's holds as they were; the same
// push then runs whole.
TEST_F(Queue, APushCutShortByMemoryChangesNothing)
{
    WriteMotion("Data/Avatar/Motions/lean.anm", 1, 1.0f);
    CKivAnimManager *manager = HostedEngine<>::base->GetAnimManager();
    RwAnimAnimation *lean = manager->GetAnimation("lean");
    ASSERT_NE(nullptr, lean);
    RwAnimInterpolator *interpolator = clump.GetHierarchy()->currentAnim;
    for (int round = 0; round < 2; round++) {
        long refused = 1;
        for (long n = 0; refused && n < 20; n++) {
            const long blocks = KivLiveHeapBlocks();
            const int holds = manager->GetHoldCount(lean);
            KivAnimEntry *current = clump.GetCurrentEntry();
            KivAnimEntry *last = clump.GetLastEntry();
            const float duration = current ? current->duration : 0.0f;
            const int finished = current ? current->finished : 0;
            RwAnimAnimation *playing = interpolator->pCurrentAnim;
            int pushed = -1;
            FailNewAfter(n);
            try {
                pushed = clump.PushAnimationEntry(lean, 0.25f, 0);
            } catch (...) {
                pushed = -2;
            }
            refused = FailNewRefused();
            FailNewEnd();
            if (!refused) {
                EXPECT_EQ(1, pushed);
                continue;
            }
            EXPECT_EQ(0, pushed) << round << " after " << n;
            EXPECT_EQ(blocks, KivLiveHeapBlocks()) << round << " after " << n;
            EXPECT_EQ(holds, manager->GetHoldCount(lean)) << round << " after " << n;
            EXPECT_EQ(current, clump.GetCurrentEntry());
            EXPECT_EQ(last, clump.GetLastEntry());
            EXPECT_EQ(playing, interpolator->pCurrentAnim);
            if (current) {
                EXPECT_EQ(duration, current->duration);
                EXPECT_EQ(finished, current->finished);
            }
        }
        EXPECT_EQ(0, refused);
        EXPECT_EQ(lean, interpolator->pCurrentAnim);
        EXPECT_EQ(0, clump.Update(5.0f));   // over, not looping: the queue goes idle on its last pose
    }
    clump.Destroy();
    EXPECT_EQ(0, manager->GetHoldCount(lean));
    EXPECT_TRUE(manager->RemoveAnimation("lean"));
}

TEST_F(Queue, ModelFlagsCannotTakeTheBoneMatricesAway)
{
    // The avatar as the library's writers wrote it, its hierarchy record
    // patched to claim "sub-hierarchy" and "no matrices".
    std::string model = KivTestAvatarModel();
    const size_t record = model.find(KivTestBoneRecord(0));
    ASSERT_NE(std::string::npos, record);
    model[record + 12] |= rwHANIMHIERARCHYPROGRAMFLAGS;
    WriteFileBytes("flagged.dff", model);
    CKivClump avatar;
    ASSERT_EQ(1, avatar.Load("flagged.dff", nullptr));
    RwHAnimHierarchy *h = avatar.GetHierarchy();
    ASSERT_NE(nullptr, h);
    ASSERT_NE(nullptr, h->pMatrixArray);
    EXPECT_EQ(0, h->flags & rwHANIMHIERARCHYPROGRAMFLAGS);
    ASSERT_EQ(1, avatar.PushAnimationEntry(Motion(1.0f, 0.0f, h->numNodes), 0.0f, 1));
    avatar.Update(0.25f);
    EXPECT_EQ(1, avatar.SetNodeScale(1, 2.0f, 2.0f));
    EXPECT_EQ(1, avatar.ScaleNodeMatrix(1, 2.0f, 2.0f, 2.0f));
    // Skinned parts on a hierarchy the program made without matrices: nothing to scale.
    RwHAnimHierarchy *bare = RwHAnimHierarchyCreate(h->numNodes, nullptr, nullptr, rwHANIMHIERARCHYNOMATRICES, 36);
    for (RwAtomic *a : Atomics(avatar))
        RwSkinAtomicSetHAnimHierarchy(a, bare);
    EXPECT_EQ(1, avatar.ScaleNodeMatrix(1, 2.0f, 2.0f, 2.0f));
    for (RwAtomic *a : Atomics(avatar))
        RwSkinAtomicSetHAnimHierarchy(a, h);
    RwHAnimHierarchyDestroy(bare);
}

TEST_F(Queue, BoneScalesSkipAHierarchyWithoutMatrices)
{
    // A copy takes the program's flags along and gets bone scales.
    CKivClump made, bare;
    ASSERT_EQ(1, made.SetClump(Skeleton(1, rwHANIMHIERARCHYNOMATRICES)));
    ASSERT_EQ(1, bare.Clone(&made));
    ASSERT_EQ(nullptr, bare.GetHierarchy()->pMatrixArray);
    ASSERT_EQ(1, bare.PushAnimationEntry(Motion(1.0f, 0.0f), 0.0f, 1));
    bare.Update(0.25f);
    EXPECT_EQ(1, bare.SetNodeScale(0, 2.0f, 2.0f));
}

TEST(Clump, ShadowPosesCopyOnlyTheBonesBothHave)
{
    CKivClump caster, small, flat;
    ASSERT_EQ(1, caster.SetClump(Skeleton(2)));
    ASSERT_EQ(1, small.SetClump(Skeleton(1)));
    ASSERT_EQ(1, Load(flat, KivTestQuad()));
    caster.GetHierarchy()->pMatrixArray[0].pos = {7, 8, 9};
    WriteFileBytes("sun.dff", KivTestDirectionalLightFile());
    CKivLight sun;
    ASSERT_EQ(1, sun.Load("sun.dff"));
    CKivShadow shadow;
    EXPECT_EQ(1.0f, shadow.GetIntensity());
    EXPECT_EQ(1, shadow.Set(&caster, &small, 100.0f));
    shadow.Update(&sun);
    EXPECT_EQ(7.0f, small.GetHierarchy()->pMatrixArray[0].pos.x);
    EXPECT_EQ(0.0f, shadow.GetSphere().radius);   // nothing to measure: no texture made
    shadow.Set(&caster, &flat, 100.0f);           // a shadow model without bones
    shadow.Update(&sun);
}

// Length 0 turns a shadow off: Update measures nothing and Render draws
// nothing on the white ground that the same shadow darkened before.
TEST(Clump, AShadowOfLengthZeroNeitherMeasuresNorDraws)
{
    WriteFileBytes("shadowground.bsp", KivTestGround(50.0f, 0.0f, 30.0f));
    CKivWorld world("Shadowed");
    ASSERT_EQ(1, world.Load("shadowground.bsp", nullptr, nullptr));
    CKivCamera camera("eye");
    const RwV3d eye = {0, 20, 0}, target = {0, 0, 0}, up = {0, 0, 1};
    ASSERT_EQ(1, camera.CreateLookAt(&eye, &target, &up, 0.5f, 1000.0f, 3.14159265f / 2,
                                     CKivBase::GetInstance()->GetViewport()));
    ASSERT_EQ(1, world.AddCamera(&camera));
    world.SetCamera(&camera);
    CKivClump caster, shade;
    KivTestQuad hidden, black;   // the caster a hidden bone shape: only its shadow shows
    hidden.name = "Bip01 Spine";
    black.prelit = false;
    hidden.half = black.half = 2.0f;
    ASSERT_EQ(1, Load(caster, hidden, "caster.dff"));
    ASSERT_EQ(1, Load(shade, black, "shade.dff"));
    ASSERT_EQ(1, world.AddClump(&caster));
    WriteFileBytes("sun.dff", KivTestDirectionalLightFile());
    CKivLight sun;
    ASSERT_EQ(1, sun.Load("sun.dff"));
    KivTestShineDown(RwLightGetFrame(sun.GetLight()));
    CKivShadow shadow;
    shadow.Set(&caster, &shade, 100.0f);
    const auto centre = [&] {
        world.Render();
        shadow.Render(&camera, 1.0f);
        return ReadPixel(rwD3D9Driver.device, rwD3D9Driver.defaultColorSurface, 512, 384) & 0xFF;
    };
    shadow.Update(&sun);
    shadow.Update(&sun);   // the second fits the texture to the first one's measure
    EXPECT_LT(centre(), 160u);
    EXPECT_GT(shadow.GetTriangleCount(), 0);

    // Off, Render leaves the texture the last update made unused.
    shadow.Set(&caster, &shade, 0.0f);
    EXPECT_GT(centre(), 245u);
    const RwV3d aside = {10, 0, 0};
    caster.SetPosition(&aside);
    caster.UpdateObjects();
    world.Render();   // brings the moved frame up to date
    const RwSphere before = shadow.GetSphere();
    shadow.Update(&sun);
    EXPECT_EQ(before.center.x, shadow.GetSphere().center.x);
    world.RemoveClump(&caster);
    world.RemoveCamera(&camera);
}

TEST(Clump, UVAnimationsScrollTheFirstMaterialAndKeepTheSwitch)
{
    WriteFileBytes("uvtex/scroll.png", GradientPng(4, 4));
    const auto uva = uvabytes::Dictionary({uvabytes::Scroll("first")});
    WriteFileBytes("scroll.uva", std::string(uva.begin(), uva.end()));
    CKivUVAnim anim;
    ASSERT_EQ(1, anim.Load("scroll.uva", "scroll", "uvtex/"));
    KivTestQuad glass;
    glass.material = "_t";
    glass.name = "glass";
    CKivClump clump;
    ASSERT_EQ(1, Load(clump, glass));
    EXPECT_EQ(0, clump.ApplyUVAnim("missing", &anim));
    ASSERT_EQ(1, clump.ApplyUVAnim("glass", &anim));
    RwAtomic *atomic = FirstAtomic(clump);
    RwMaterial *material = atomic->geometry->matList.materials[0];
    EXPECT_EQ(anim.GetTexture(), material->texture);
    EXPECT_EQ(CKivClump::AlphaRenderCallBack, atomic->renderCallBack);
    EXPECT_EQ(5, RwMatFxMaterialGetEffectType(material));
    EXPECT_TRUE(RwUVAnimMaterialHasAnim(material));
    clump.Update(0.5f);
    EXPECT_NEAR(0.5f, RwUVAnimMaterialGetInterpolator(material, 0)->currentTime, 1e-5f);
}

TEST(Clump, ToonChangesKeepOneSwitchPerTransparentPart)
{
    KivTestQuad glass;
    glass.material = "_t";
    CKivClump clump;
    ASSERT_EQ(1, Load(clump, glass));
    RwAtomic *atomic = FirstAtomic(clump);
    CKivToon toon;   // nothing loaded: binds nothing
    clump.SetToon(&toon);
    EXPECT_EQ(&toon, clump.GetToon());
    EXPECT_EQ(CKivClump::AlphaRenderCallBack, atomic->renderCallBack);
    EXPECT_EQ(1, RenderArrays(atomic->geometry));
    clump.SetToon(nullptr);
    EXPECT_EQ(CKivClump::AlphaRenderCallBack, atomic->renderCallBack);
    EXPECT_EQ(1, RenderArrays(atomic->geometry));
    // A toon-drawn part keeps its toon callback behind the switch.
    CKivClump::RestoreAlphaAtomic(atomic);
    atomic->renderCallBack = RwToonAtomicRenderCallBack;
    CKivClump::SetupAlphaAtomic(atomic);
    EXPECT_EQ(RwToonAtomicRenderCallBack, AtomicGetSavedRenderCallBack(atomic));
}

} // namespace
