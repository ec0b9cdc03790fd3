#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gfx/core/vector.h"
#include "matrix_reference.h"
#include "started_engine.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

// The tables keep the top eleven mantissa bits of the argument (rounded): the
// results are good to about twelve bits.
const double kTableTolerance = 1.0 / 4096.0;

TEST(Sqrt, TablesMatchTheRootsOverAWideSweep)
{
    struct Case {
        const char *name;
        RwReal (*table)(RwReal);
        double (*exact)(double);
    };
    const Case cases[] = {
        {"RwSqrt", RwSqrt, [](double x) { return std::sqrt(x); }},
        {"RwInvSqrt", RwInvSqrt, [](double x) { return 1.0 / std::sqrt(x); }},
    };
    for (const Case &c : cases) {
        // An odd step in the bit pattern visits every table entry and rounding case.
        for (RwUInt32 bits = 0x0DA24260; bits < 0x7149F2CA; bits += 0x3F) {
            float x;
            std::memcpy(&x, &bits, 4);
            const double expected = c.exact(x);
            if (std::fabs(c.table(x) - expected) > kTableTolerance * expected) {
                ADD_FAILURE() << c.name << "(" << x << ") = " << c.table(x) << ", expected " << expected;
                break;
            }
        }
    }
}

TEST(Sqrt, EdgeValues)
{
    const float belowTwo = std::nextafter(2.0f, 0.0f);   // rounds into the next octave's entries
    const struct {
        float x;
        double root;
    } cases[] = {{4.0f, 2.0}, {0.25f, 0.5}, {1.0f, 1.0}, {belowTwo, std::sqrt(2.0)}};
    for (const auto &c : cases) {
        EXPECT_NEAR(c.root, RwSqrt(c.x), c.root * kTableTolerance) << c.x;
        EXPECT_NEAR(1.0 / c.root, RwInvSqrt(c.x), kTableTolerance / c.root) << c.x;
    }
    EXPECT_EQ(0.0f, RwSqrt(0.0f));
    EXPECT_EQ(0.0f, RwInvSqrt(0.0f));
}

TEST(Vector, NormalizeGivesUnitVectorAndLengthOrZeroWithAnError)
{
    RwV3d v = {3.0f, 4.0f, 12.0f};
    EXPECT_NEAR(13.0, RwV3dLength(&v), 13.0 * kTableTolerance);
    EXPECT_NEAR(13.0, RwV3dNormalize(&v, &v), 13.0 * kTableTolerance);
    EXPECT_TRUE(NearV3({3.0 / 13, 4.0 / 13, 12.0 / 13}, Ref(v), 1e-3));
    EXPECT_EQ(0x80000000u, TakeErrorCode());
    const RwV3d zero = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(0.0f, RwV3dNormalize(&v, &zero));
    EXPECT_TRUE(NearV3({0, 0, 0}, Ref(v), 0));
    const RwError e = TakeError();
    EXPECT_EQ(1, e.pluginID);
    EXPECT_EQ(E_RW_ZEROLENGTH, e.errorCode);
}

TEST(Transform, PointsAndVectorsMatchReferenceAlsoInPlace)
{
    const RefMatrix ref = RefGeneral();
    const RwMatrix m = MakeMatrix(ref, 0);
    const RwV3d orig[3] = {{1.25f, -2, 3.5f}, {-4, 0.5f, 2}, {0, 0, 0}};
    RwV3d pts[3] = {orig[0], orig[1], orig[2]};
    RwV3d vecs[3] = {orig[0], orig[1], orig[2]};
    EXPECT_EQ(pts, RwV3dTransformPoints(pts, pts, 3, &m));
    EXPECT_EQ(vecs, RwV3dTransformVectors(vecs, vecs, 3, &m));
    for (int i = 0; i < 3; ++i) {
        RwV3d one;
        EXPECT_EQ(&one, RwV3dTransformPoint(&one, &orig[i], &m));
        EXPECT_TRUE(NearV3(RefTransformPoint(Ref(orig[i]), ref), Ref(one), 1e-5)) << i;
        EXPECT_TRUE(NearV3(Ref(one), Ref(pts[i]), 0)) << i;
        EXPECT_EQ(&one, RwV3dTransformVector(&one, &orig[i], &m));
        EXPECT_TRUE(NearV3(RefTransformVector(Ref(orig[i]), ref), Ref(one), 1e-5)) << i;
        EXPECT_TRUE(NearV3(Ref(one), Ref(vecs[i]), 0)) << i;
    }
}

int pointCalls = 0;
void CountingPoint(RwV3d *out, const RwV3d *in, const RwMatrix *)
{
    ++pointCalls;
    *out = *in;
}

TEST(Transform, InstalledRoutineIsUsedAndNullRestoresPortable)
{
    const RwMatrix m = MakeMatrix(RefTranslation(1, 1, 1), 3);
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
    EXPECT_EQ(0x80000013u, TakeErrorCode());
    ASSERT_TRUE(RwEngineStart());
    EXPECT_NEAR(3.0, RwSqrt(9.0f), 3.0 * kTableTolerance);
}

}  // namespace
