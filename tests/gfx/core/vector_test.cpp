#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
#include "matrix_reference.h"
#include "started_engine.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

// The tables keep the top eleven mantissa bits of the argument (rounded), so
// the result is good to about twelve bits.
const double kTableTolerance = 1.0 / 4096.0;

float NextUp(float x)
{
    RwUInt32 u;
    std::memcpy(&u, &x, 4);
    u += 0x3F;   // an odd step, so the sweep visits every table entry and rounding case
    std::memcpy(&x, &u, 4);
    return x;
}

TEST(Sqrt, TableMatchesSqrtOverWideSweep)
{
    double worst = 0.0;
    for (float x = 1e-30f; x < 1e30f; x = NextUp(x)) {
        const double expected = std::sqrt(static_cast<double>(x));
        const double rel = std::fabs(RwSqrt(x) - expected) / expected;
        worst = std::max(worst, rel);
        if (rel > kTableTolerance) {
            ADD_FAILURE() << "RwSqrt(" << x << ") = " << RwSqrt(x) << ", expected " << expected;
            return;
        }
    }
    EXPECT_LT(worst, kTableTolerance);
}

TEST(Sqrt, InverseTableMatchesOverWideSweep)
{
    for (float x = 1e-30f; x < 1e30f; x = NextUp(x)) {
        const double expected = 1.0 / std::sqrt(static_cast<double>(x));
        const double rel = std::fabs(RwInvSqrt(x) - expected) / expected;
        if (rel > kTableTolerance) {
            ADD_FAILURE() << "RwInvSqrt(" << x << ") = " << RwInvSqrt(x) << ", expected " << expected;
            return;
        }
    }
}

TEST(Sqrt, PowersOfFourAreNearlyExact)
{
    EXPECT_NEAR(2.0, RwSqrt(4.0f), 2.0 / 4096);
    EXPECT_NEAR(0.5, RwSqrt(0.25f), 0.5 / 4096);
    EXPECT_EQ(1.0f, RwSqrt(1.0f));
    EXPECT_EQ(1.0f, RwInvSqrt(1.0f));
    EXPECT_NEAR(0.5, RwInvSqrt(4.0f), 0.5 / 4096);
}

TEST(Sqrt, ZeroGivesZero)
{
    EXPECT_EQ(0.0f, RwSqrt(0.0f));
    EXPECT_EQ(0.0f, RwInvSqrt(0.0f));
}

TEST(Sqrt, JustBelowTwoRoundsIntoTheNextOctave)
{
    // The rounding step carries the index from the top of [1, 2) into [2, 4).
    const float x = std::nextafter(2.0f, 0.0f);
    EXPECT_NEAR(std::sqrt(2.0), RwSqrt(x), std::sqrt(2.0) / 4096);
    EXPECT_NEAR(1.0 / std::sqrt(2.0), RwInvSqrt(x), 1.0 / 4096);
}

TEST(Vector, LengthAndNormalize)
{
    const RwV3d v = {3.0f, 4.0f, 12.0f};
    EXPECT_NEAR(13.0, RwV3dLength(&v), 13.0 / 4096);
    RwV3d n;
    EXPECT_NEAR(13.0, RwV3dNormalize(&n, &v), 13.0 / 4096);
    EXPECT_TRUE(NearV3({3.0 / 13, 4.0 / 13, 12.0 / 13}, Ref(n), 1e-3));
    EXPECT_EQ(static_cast<RwInt32>(0x80000000u), TakeError().errorCode);
}

TEST(Vector, NormalizeInPlace)
{
    RwV3d v = {0.0f, -2.0f, 0.0f};
    RwV3dNormalize(&v, &v);
    EXPECT_TRUE(NearV3({0, -1, 0}, Ref(v), 1e-3));
}

TEST(Vector, NormalizeZeroLengthRecordsErrorAndGivesZero)
{
    const RwV3d zero = {0.0f, 0.0f, 0.0f};
    RwV3d out = {5.0f, 5.0f, 5.0f};
    EXPECT_EQ(0.0f, RwV3dNormalize(&out, &zero));
    EXPECT_EQ(0.0f, out.x);
    EXPECT_EQ(0.0f, out.y);
    EXPECT_EQ(0.0f, out.z);
    const RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_ZEROLENGTH, e.errorCode);
}

TEST(Transform, PointAndVectorMatchReference)
{
    const RefMatrix ref = RefGeneral();
    const RwMatrix m = MakeMatrix(ref, 0);
    const RwV3d p = {1.25f, -2.0f, 3.5f};
    RwV3d out;
    EXPECT_EQ(&out, RwV3dTransformPoint(&out, &p, &m));
    EXPECT_TRUE(NearV3(RefTransformPoint(Ref(p), ref), Ref(out), 1e-5));
    EXPECT_EQ(&out, RwV3dTransformVector(&out, &p, &m));
    EXPECT_TRUE(NearV3(RefTransformVector(Ref(p), ref), Ref(out), 1e-5));
}

TEST(Transform, ArraysMayBeTransformedInPlace)
{
    const RefMatrix ref = RefGeneral();
    const RwMatrix m = MakeMatrix(ref, 0);
    RwV3d pts[3] = {{1, 2, 3}, {-4, 0.5f, 2}, {0, 0, 0}};
    const RwV3d orig[3] = {pts[0], pts[1], pts[2]};
    EXPECT_EQ(pts, RwV3dTransformPoints(pts, pts, 3, &m));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(NearV3(RefTransformPoint(Ref(orig[i]), ref), Ref(pts[i]), 1e-5)) << i;
    }
    RwV3d vecs[3] = {orig[0], orig[1], orig[2]};
    RwV3dTransformVectors(vecs, vecs, 3, &m);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(NearV3(RefTransformVector(Ref(orig[i]), ref), Ref(vecs[i]), 1e-5)) << i;
    }
}

TEST(Transform, TranslationOnlyGivesSumForPointsAndNothingForVectors)
{
    RwMatrix m = MakeMatrix(RefIdentity(), 3);
    m.pos = {10, 20, 30};
    const RwV3d p = {1, 2, 3};
    RwV3d out;
    RwV3dTransformPoint(&out, &p, &m);
    EXPECT_TRUE(NearV3({11, 22, 33}, Ref(out), 0));
    RwV3dTransformVector(&out, &p, &m);
    EXPECT_TRUE(NearV3({1, 2, 3}, Ref(out), 0));
}

int pointCalls = 0;
void CountingPoint(RwV3d *out, const RwV3d *in, const RwMatrix *)
{
    ++pointCalls;
    *out = *in;
}

TEST(Transform, InstalledRoutineIsUsedAndNullRestoresPortable)
{
    RwMatrix m = MakeMatrix(RefIdentity(), 3);
    m.pos = {1, 1, 1};
    const RwV3d p = {1, 2, 3};
    RwV3d out;
    ASSERT_TRUE(RwV3dSetTransformFunctions(CountingPoint, nullptr, nullptr, nullptr));
    EXPECT_EQ(&out, RwV3dTransformPoint(&out, &p, &m));
    EXPECT_EQ(1, pointCalls);
    EXPECT_TRUE(NearV3({1, 2, 3}, Ref(out), 0));
    ASSERT_TRUE(RwV3dSetTransformFunctions(nullptr, nullptr, nullptr, nullptr));
    RwV3dTransformPoint(&out, &p, &m);
    EXPECT_EQ(1, pointCalls);
    EXPECT_TRUE(NearV3({2, 3, 4}, Ref(out), 0));
}

TEST(VectorModule, TableAllocationFailureFailsTheStart)
{
    ASSERT_TRUE(RwEngineStop());
    TakeError();
    rwTestMemory.failHint = 0x40401;
    EXPECT_FALSE(RwEngineStart());
    rwTestMemory.failHint = 0;
    EXPECT_EQ(static_cast<RwInt32>(0x80000013u), TakeError().errorCode);
    ASSERT_TRUE(RwEngineStart());
    EXPECT_NEAR(3.0, RwSqrt(9.0f), 3.0 / 4096);
}

}  // namespace
