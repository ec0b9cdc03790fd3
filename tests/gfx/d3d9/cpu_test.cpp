// Tests of the processor probes, the transform routines and floating-point control.
#include <gtest/gtest.h>

#include <windows.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>

#include "gfx/d3d9/d3d9cpu.h"
#include "gfx/d3d9/d3d9device.h"

namespace {

// Plain reference with the same summation order as the x87 routines.
void ReferencePoint(RwV3d *out, const RwV3d *in, const RwMatrix *m, bool point)
{
    double x = in->x, y = in->y, z = in->z;
    out->x = static_cast<float>(x * m->right.x + y * m->up.x + z * m->at.x + (point ? m->pos.x : 0.0));
    out->y = static_cast<float>(x * m->right.y + y * m->up.y + z * m->at.y + (point ? m->pos.y : 0.0));
    out->z = static_cast<float>(x * m->right.z + y * m->up.z + z * m->at.z + (point ? m->pos.z : 0.0));
}

void FillMatrix(RwMatrix *m, float seed)
{
    std::memset(m, 0, sizeof(*m));
    m->right = {0.8f * seed, -0.3f, 0.5f};
    m->up = {0.25f, 1.5f * seed, -0.75f};
    m->at = {-0.6f, 0.125f, 2.0f};
    m->pos = {10.0f, -20.0f, 30.5f * seed};
    m->flags = 0x12345678;    // must survive every routine
    m->pad1 = m->pad2 = m->pad3 = 0xDEADBEEF;
}

struct Column {
    const char *name;
    RwD3D9TransformRoutine point;
    RwD3D9TransformArrayRoutine points;
    RwD3D9TransformRoutine vector;
    RwD3D9TransformArrayRoutine vectors;
};

const Column Columns[] = {
    {"x87", RwV3dTransformPointX87, RwV3dTransformPointsX87, RwV3dTransformVectorX87, RwV3dTransformVectorsX87},
    {"SSE", RwV3dTransformPointSSE, RwV3dTransformPointsSSE, RwV3dTransformVectorSSE, RwV3dTransformVectorsSSE},
    {"SSE2", RwV3dTransformPointSSE2, RwV3dTransformPointsSSE2, RwV3dTransformVectorSSE2,
     RwV3dTransformVectorsSSE2},
};

void ExpectNear(const RwV3d &a, const RwV3d &b, const char *what)
{
    EXPECT_NEAR(a.x, b.x, 1e-4f * (1.0f + std::fabs(b.x))) << what;
    EXPECT_NEAR(a.y, b.y, 1e-4f * (1.0f + std::fabs(b.y))) << what;
    EXPECT_NEAR(a.z, b.z, 1e-4f * (1.0f + std::fabs(b.z))) << what;
}

} // namespace

TEST(CpuTransforms, TranslationMatrixGivesExactResultsInEveryColumn)
{
    alignas(16) RwMatrix m;
    std::memset(&m, 0, sizeof(m));
    m.right = {1, 0, 0};
    m.up = {0, 1, 0};
    m.at = {0, 0, 1};
    m.pos = {10, 20, 30};
    const RwV3d p = {1, 2, 3};
    for (const Column &c : Columns) {
        RwV3d out = {0, 0, 0};
        c.point(&out, &p, &m);
        EXPECT_EQ(out.x, 11.0f) << c.name;
        EXPECT_EQ(out.y, 22.0f) << c.name;
        EXPECT_EQ(out.z, 33.0f) << c.name;
        c.vector(&out, &p, &m);
        EXPECT_EQ(out.x, 1.0f) << c.name;
        EXPECT_EQ(out.y, 2.0f) << c.name;
        EXPECT_EQ(out.z, 3.0f) << c.name;
    }
}

TEST(CpuTransforms, EveryRoutineMatchesThePlainReference)
{
    // Aligned and unaligned matrices; arrays both apart and in place.
    alignas(16) unsigned char storage[sizeof(RwMatrix) + 16];
    RwV3d in[7];
    for (int i = 0; i < 7; i++)
        in[i] = {0.5f * i - 1.0f, 3.0f - i, 0.25f * i * i};
    for (int offset : {0, 4}) {
        RwMatrix *m = reinterpret_cast<RwMatrix *>(storage + offset);
        FillMatrix(m, 1.25f + offset);
        RwV3d points[7], vectors[7];
        for (int i = 0; i < 7; i++) {
            ReferencePoint(&points[i], &in[i], m, true);
            ReferencePoint(&vectors[i], &in[i], m, false);
        }
        for (const Column &c : Columns) {
            RwV3d out[7], same[7];
            for (int i = 0; i < 7; i++) {
                c.point(&out[i], &in[i], m);
                ExpectNear(out[i], points[i], c.name);
                c.vector(&out[i], &in[i], m);
                ExpectNear(out[i], vectors[i], c.name);
            }
            c.points(out, in, 7, m);
            std::memcpy(same, in, sizeof(same));
            c.points(same, same, 7, m);
            for (int i = 0; i < 7; i++) {
                ExpectNear(out[i], points[i], c.name);
                ExpectNear(same[i], points[i], c.name);
            }
            c.vectors(out, in, 7, m);
            std::memcpy(same, in, sizeof(same));
            c.vectors(same, same, 7, m);
            for (int i = 0; i < 7; i++) {
                ExpectNear(out[i], vectors[i], c.name);
                ExpectNear(same[i], vectors[i], c.name);
            }
        }
    }
}

// An array gives bit for bit what the one-vector routine gives for each of
// its vectors, apart and in place.
TEST(CpuTransforms, ArraysGiveExactlyThePerVectorResults)
{
    alignas(16) unsigned char storage[sizeof(RwMatrix) + 16];
    const int n = 64;
    RwV3d in[n];
    for (int i = 0; i < n; i++)
        in[i] = {0.37f * i - 11.0f, 1.0f / (i + 1.0f), 0.001f * i * i - 3.3f};
    for (int offset : {0, 4}) {
        RwMatrix *m = reinterpret_cast<RwMatrix *>(storage + offset);
        FillMatrix(m, 0.7f + offset);
        m->right.x = 1.0f / 3.0f;
        m->pos.y = 1e7f / 7.0f;
        for (const Column &c : Columns) {
            RwV3d one[n], all[n], same[n];
            for (int i = 0; i < n; i++)
                c.point(&one[i], &in[i], m);
            c.points(all, in, n, m);
            std::memcpy(same, in, sizeof(same));
            c.points(same, same, n, m);
            EXPECT_EQ(0, std::memcmp(one, all, sizeof(one))) << c.name;
            EXPECT_EQ(0, std::memcmp(one, same, sizeof(one))) << c.name;
            for (int i = 0; i < n; i++)
                c.vector(&one[i], &in[i], m);
            c.vectors(all, in, n, m);
            std::memcpy(same, in, sizeof(same));
            c.vectors(same, same, n, m);
            EXPECT_EQ(0, std::memcmp(one, all, sizeof(one))) << c.name;
            EXPECT_EQ(0, std::memcmp(one, same, sizeof(one))) << c.name;
        }
    }
}

TEST(CpuTransforms, WritesExactlyTwelveBytesPerVector)
{
    alignas(16) RwMatrix m;
    FillMatrix(&m, 1.0f);
    RwV3d in[3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    for (const Column &c : Columns) {
        float out[3 * 3 + 2];
        for (float &f : out)
            f = -12345.0f;
        c.points(reinterpret_cast<RwV3d *>(out), in, 3, &m);
        EXPECT_EQ(out[9], -12345.0f) << c.name;
        EXPECT_EQ(out[10], -12345.0f) << c.name;
        c.vector(reinterpret_cast<RwV3d *>(out + 9), in, &m);
        EXPECT_NE(out[9], -12345.0f) << c.name;
    }
}

TEST(CpuTransforms, NeverReadsPastTheEndOfAVectorArray)
{
    // The array ends exactly at a page that cannot be read.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const DWORD page = info.dwPageSize;
    unsigned char *block =
        static_cast<unsigned char *>(VirtualAlloc(nullptr, page * 2, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(block + page, page, PAGE_NOACCESS, &old));
    const int n = 5;
    RwV3d *in = reinterpret_cast<RwV3d *>(block + page - n * sizeof(RwV3d));
    RwV3d *out = reinterpret_cast<RwV3d *>(block + page - 2 * n * sizeof(RwV3d));
    for (int i = 0; i < n; i++)
        in[i] = {1.0f * i, 2.0f, 3.0f};
    alignas(16) RwMatrix m;
    FillMatrix(&m, 1.0f);
    for (const Column &c : Columns) {
        c.points(out, in, n, &m);
        c.vectors(out, in, n, &m);
        c.point(out, &in[n - 1], &m);
        c.vector(out, &in[n - 1], &m);
        // In place, where the output is the last vector too.
        c.points(in, in, n, &m);
    }
    VirtualFree(block, 0, MEM_RELEASE);
}

TEST(CpuTransforms, MultiplyLeavesFlagsAndPadsAlone)
{
    alignas(16) RwMatrix a, b, out;
    FillMatrix(&a, 1.0f);
    FillMatrix(&b, 0.5f);
    std::memset(&out, 0x55, sizeof(out));
    RwMatrixMultiplyX87(&out, &a, &b);
    EXPECT_EQ(out.flags, 0x55555555u);
    EXPECT_EQ(out.pad1, 0x55555555u);
    EXPECT_EQ(out.pad3, 0x55555555u);
    RwV3d ref;
    ReferencePoint(&ref, &a.right, &b, false);
    ExpectNear(out.right, ref, "right");
    ReferencePoint(&ref, &a.at, &b, false);
    ExpectNear(out.at, ref, "at");
    ReferencePoint(&ref, &a.pos, &b, true);
    ExpectNear(out.pos, ref, "pos");
}

TEST(CpuSelection, FollowsTheFeatureFlags)
{
    struct Case {
        RwBool sse, sse2, has3DNow;
        const Column &column;
    };
    const Case cases[] = {
        {FALSE, FALSE, FALSE, Columns[0]}, {FALSE, TRUE, FALSE, Columns[0]}, {TRUE, FALSE, FALSE, Columns[1]},
        {TRUE, TRUE, FALSE, Columns[2]},   {TRUE, TRUE, TRUE, Columns[1]},   {TRUE, FALSE, TRUE, Columns[1]},
    };
    for (const Case &c : cases) {
        RwD3D9TransformSet set = RwD3D9SelectTransforms(c.sse, c.sse2, c.has3DNow);
        EXPECT_EQ(set.multiply, RwMatrixMultiplyX87);
        EXPECT_EQ(set.point, c.column.point) << c.sse << c.sse2 << c.has3DNow;
        EXPECT_EQ(set.points, c.column.points);
        EXPECT_EQ(set.vector, c.column.vector);
        EXPECT_EQ(set.vectors, c.column.vectors);
    }
}

TEST(CpuProbe, ThisProcessorHasCpuidAndSse2)
{
    EXPECT_TRUE(RwCpuHasCPUID());
    EXPECT_TRUE(RwCpuHasMMX());
    EXPECT_TRUE(RwCpuHasSSE());
    EXPECT_TRUE(RwCpuHasSSE2());
    RwD3D9CpuProbe();
    EXPECT_EQ(rwD3D9Driver.cpuSSE, 1);
    EXPECT_EQ(rwD3D9Driver.cpuSSE2, 1);
    EXPECT_EQ(rwD3D9Driver.cpu3DNow, RwCpuHas3DNow());
}

class FpuControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = RwFpuGetControlWord();
        savedCsr = _mm_getcsr();
    }
    void TearDown() override
    {
        RwD3D9FpuStop();
        RwFpuSetControlWord(saved);
        _mm_setcsr(savedCsr);
    }
    RwUInt16 saved = 0;
    unsigned int savedCsr = 0;
};

TEST_F(FpuControl, FinishStartSetsSinglePrecisionAndStopRestoresTheFirstSavedWord)
{
    RwFpuSetControlWord(0x027F);    // double precision, exceptions masked
    ASSERT_FALSE(RwFpuControlWordSaved());
    RwFpuRestoreControlWord();      // nothing saved: both leave the word alone
    RwD3D9FpuStop();
    EXPECT_EQ(RwFpuGetControlWord(), 0x027F);
    rwD3D9Driver.cpuSSE = TRUE;
    RwD3D9FinishStart();
    RwUInt16 running = RwFpuGetControlWord();
    EXPECT_EQ(running & 0x300, 0);
    EXPECT_EQ(running & 0x3F, 0x3F);
    EXPECT_NE(_mm_getcsr() & 0x8000, 0u);
    RwD3D9FinishStart();
    RwD3D9FpuStop();
    EXPECT_EQ(RwFpuGetControlWord(), 0x027F);
    EXPECT_EQ(_mm_getcsr() & 0x8000, 0u);
}

TEST_F(FpuControl, SinglePrecisionMasksEveryException)
{
    // Double precision masked, and extended precision with two exceptions unmasked.
    for (RwUInt16 word : {0x027F, 0x0372}) {
        RwFpuSetControlWord(word);
        RwFpuForceSinglePrecision();
        EXPECT_EQ(RwFpuGetControlWord(), 0x007F) << word;
        EXPECT_FALSE(RwFpuControlWordSaved()) << "forcing saves nothing";
        RwFpuSetControlWord(word);
        RwFpuSetSinglePrecision();
        EXPECT_EQ(RwFpuGetControlWord(), 0x007F) << word;
        RwFpuRestoreControlWord();
        EXPECT_EQ(RwFpuGetControlWord(), word);
    }
}

TEST_F(FpuControl, WithoutSseFlushToZeroIsNotTouched)
{
    _mm_setcsr(_mm_getcsr() & ~0x8000u);
    rwD3D9Driver.cpuSSE = FALSE;
    RwD3D9FinishStart();
    EXPECT_EQ(_mm_getcsr() & 0x8000, 0u);
    EXPECT_EQ(RwD3D9GetInstalledTransforms()->point, RwV3dTransformPointX87);
    RwD3D9FpuStop();
}
