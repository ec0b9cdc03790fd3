#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "gfx/core/matrix.h"
#include "matrix_reference.h"
#include "started_engine.h"
#include "thread_modes.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

class Matrix : public ::testing::Test {
protected:
    void SetUp() override { TakeError(); }
    void TearDown() override
    {
        RwMatrixSetMultiplyFunction(nullptr);
        TakeError();
    }
};

bool SameBytes(const RwMatrix &a, const RwMatrix &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(Matrix, MultiplyMatchesReferenceAndsFlagsAndMayWriteAnOperand)
{
    const RefMatrix a = RefGeneral();
    const RefMatrix b = RefRotation({1, 2, 3}, 37, {-1, 2, 0.5});
    for (int alias = 0; alias < 4; ++alias) {   // out separate, out = a, out = b, out = a = b
        RwMatrix ma = MakeMatrix(a, 0x101), mb = MakeMatrix(b, 0x3), out;
        RwMatrix *o = alias == 0 ? &out : alias == 2 ? &mb : &ma;
        const RwMatrix *second = alias == 3 ? &ma : &mb;
        EXPECT_EQ(o, RwMatrixMultiply(o, &ma, second));
        EXPECT_TRUE(NearMatrix(RefMultiply(a, alias == 3 ? a : b), *o, 1e-4)) << alias;
        EXPECT_EQ(alias == 3 ? 0x101u : 0x1u, o->flags) << alias;
    }
}

int multiplyCalls = 0;
void CountingMultiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *)
{
    ++multiplyCalls;
    *out = *a;
}

// An identity operand copies the other exactly, without the installed multiply.
TEST_F(Matrix, InstalledMultiplyServesNonIdentityOperandsOnly)
{
    RwMatrix *id = RwMatrixCreate();
    ASSERT_NE(nullptr, id);
    EXPECT_EQ(0x20003u, id->flags);
    RwMatrix out;
    const RwMatrix g = MakeMatrix(RefGeneral(), 0x1004500);
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    for (int order = 0; order < 2; ++order) {
        std::memset(&out, 0xCD, sizeof out);
        RwMatrixMultiply(&out, order ? &g : id, order ? id : &g);
        EXPECT_TRUE(SameBytes(g, out)) << order;
    }
    EXPECT_TRUE(RwMatrixDestroy(id));
    RwMatrixMultiply(&out, &g, &g);
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(nullptr));
    RwMatrixMultiply(&out, &g, &g);
    EXPECT_EQ(1, multiplyCalls);
    EXPECT_TRUE(NearMatrix(RefMultiply(RefGeneral(), RefGeneral()), out, 1e-4));
}

// Each operation with each combine mode against the reference product:
// replace gives N, pre-concatenate N x M, post-concatenate M x N.
TEST_F(Matrix, CombineModesMatchReferenceProductsAndSetFlags)
{
    const RefMatrix g = RefGeneral();
    const RwMatrix other = MakeMatrix(RefRotation({3, 1, -1}, 120, {1, 2, 3}), 3);
    struct Case {
        const char *name;
        RefMatrix n;
        double tolerance;
        RwUInt32 flags[3];   // after replace, pre, post, from flags 0x403
        RwMatrix *(*apply)(RwMatrix *, RwOpCombineType, const RwMatrix *);
    };
    const Case cases[] = {
        {"translate", RefTranslation(0.5, -3, 7), 1e-5, {3, 0x403, 0x403},
         [](RwMatrix *m, RwOpCombineType c, const RwMatrix *) {
             const RwV3d t = {0.5f, -3, 7};
             return RwMatrixTranslate(m, &t, c);
         }},
        {"scale", RefScaling(2, -0.5, 3), 1e-5, {0x400, 0x400, 0x400},
         [](RwMatrix *m, RwOpCombineType c, const RwMatrix *) {
             const RwV3d s = {2, -0.5f, 3};
             return RwMatrixScale(m, &s, c);
         }},
        {"rotate", RefRotation({1, -2, 0.5}, 33, {0, 0, 0}), 2e-3, {3, 3, 3},
         [](RwMatrix *m, RwOpCombineType c, const RwMatrix *) {
             const RwV3d axis = {1, -2, 0.5f};
             return RwMatrixRotate(m, &axis, 33.0f, c);
         }},
        {"transform", Ref(other), 1e-5, {3, 3, 3},
         [](RwMatrix *m, RwOpCombineType c, const RwMatrix *o) { return RwMatrixTransform(m, o, c); }},
    };
    for (const Case &c : cases) {
        const RefMatrix expected[3] = {c.n, RefMultiply(c.n, g), RefMultiply(g, c.n)};
        for (int mode = 0; mode < 3; ++mode) {
            RwMatrix m = MakeMatrix(g, 0x403);
            EXPECT_EQ(&m, c.apply(&m, static_cast<RwOpCombineType>(mode), &other)) << c.name << mode;
            EXPECT_TRUE(NearMatrix(expected[mode], m, c.tolerance)) << c.name << " mode " << mode;
            EXPECT_EQ(c.flags[mode], m.flags) << c.name << " mode " << mode;
        }
        RwMatrix m = MakeMatrix(g, 0);
        const RwMatrix before = m;
        EXPECT_EQ(nullptr, c.apply(&m, static_cast<RwOpCombineType>(3), &other)) << c.name;
        EXPECT_EQ(0x80000003u, TakeErrorCode()) << c.name;
        EXPECT_TRUE(SameBytes(before, m)) << c.name;
    }
}

TEST_F(Matrix, RotationAndFlagEdgeCases)
{
    RwMatrix m;
    const RwV3d z2 = {0, 0, 2}, zero = {0, 0, 0}, ones = {1, 1, 1};
    RwMatrixRotate(&m, &z2, 90.0f, rwCOMBINEREPLACE);
    EXPECT_TRUE(NearMatrix({{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, 0}}}, m, 1e-5));
    EXPECT_EQ(3u, m.flags);
    // A zero axis turns nothing instead of flagging a scaled row orthonormal.
    RwMatrixRotate(&m, &zero, 90.0f, rwCOMBINEREPLACE);
    EXPECT_TRUE(NearMatrix(RefIdentity(), m, 0));
    EXPECT_EQ(3u, m.flags);
    RwMatrixSetIdentity(&m);
    RwMatrixTranslate(&m, &zero, rwCOMBINEPOSTCONCAT);
    EXPECT_EQ(3u, m.flags);   // only the identity bit goes
    RwMatrixScale(&m, &ones, rwCOMBINEPOSTCONCAT);
    EXPECT_EQ(0u, m.flags);   // even a unit scale
}

TEST_F(Matrix, InverseTimesMatrixIsIdentityAlsoInPlace)
{
    const struct {
        RefMatrix m;
        RwUInt32 flags;
    } cases[] = {{RefIdentity(), 0x20003}, {RefRotation({1, 1, 0}, 65, {5, -2, 8}), 3}, {RefGeneral(), 0}};
    for (const auto &c : cases) {
        const RwMatrix m = MakeMatrix(c.m, c.flags);
        RwMatrix inv, inPlace = m;
        RwMatrixInvert(&inv, &m);
        RwMatrixInvert(&inPlace, &inPlace);
        EXPECT_EQ(c.flags, inv.flags);
        EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(Ref(inv), c.m), 0), 1e-5)) << c.flags;
        EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(c.m, Ref(inv)), 0), 1e-5)) << c.flags;
        EXPECT_TRUE(NearMatrix(Ref(inv), inPlace, 0)) << c.flags;
    }
}

TEST_F(Matrix, InvertSingularStaysFinite)
{
    const RwMatrix m = MakeMatrix({{{1, 2, 3}, {2, 4, 6}, {0, 0, 1}, {1, 1, 1}}}, 0);   // determinant exactly 0
    RwMatrix inv;
    RwMatrixInvert(&inv, &m);
    const RwV3d *rows[4] = {&inv.right, &inv.up, &inv.at, &inv.pos};
    for (const RwV3d *r : rows) {
        EXPECT_TRUE(std::isfinite(r->x) && std::isfinite(r->y) && std::isfinite(r->z));
    }
}

// Inverses of matrices whose determinant lies near or past the ends of the
// normal range, computed on the calling thread.
struct InverseSweep {
    static constexpr int kCount = 10;
    RwMatrix in[kCount];
    RwMatrix out[kCount];
    RwBool invertible[kCount];

    InverseSweep()
    {
        const RefMatrix scales[kCount] = {
            RefScaling(1e-20, 1e-20, 1), RefScaling(1e-13, 1e-13, 1e-13), RefScaling(1e-15, 1e-15, 1e-15),
            RefScaling(1e-30, 1e-10, 1), RefScaling(1e-12, 1e-12, 1e-12), RefScaling(7e12, 7e12, 7e12),
            RefScaling(1e19, 1e19, 1e19), RefScaling(0, 1, 1),         RefScaling(2, 4, 0.5),
            RefScaling(4.3e12, 4.3e12, 4.3e12)};
        for (int i = 0; i < kCount; ++i) {
            in[i] = MakeMatrix(scales[i], 0);
            in[i].pos = {1e-30f, 3.0f, -2.0f};
        }
    }
    void Run()
    {
        for (int i = 0; i < kCount; ++i) {
            RwMatrixInvert(&out[i], &in[i]);
            invertible[i] = RwMatrixInvertible(&in[i]);
        }
    }
};

// The main thread flushes tiny results to zero once the engine has started;
// a worker thread does not: both find the same matrices singular and give the
// same bits. Every matrix with a finite inverse inverts to it, whatever the
// range of its determinant; only a zero scale is singular here.
TEST_F(Matrix, InverseIsTheSameOnEveryThreadWhateverTheFloatingPointMode)
{
    InverseSweep main, worker;
    ASSERT_TRUE(RunOnMainAndLoadingThreads(&main, &worker));
    const RwBool invertible[InverseSweep::kCount] = {TRUE, TRUE, TRUE, TRUE, TRUE,
                                                     TRUE, TRUE, FALSE, TRUE, TRUE};
    for (int i = 0; i < InverseSweep::kCount; ++i) {
        EXPECT_EQ(invertible[i], main.invertible[i]) << i;
        EXPECT_EQ(invertible[i], worker.invertible[i]) << i;
        EXPECT_EQ(main.out[i].flags, worker.out[i].flags) << i;
        const RwV3d *rows[4] = {&main.out[i].right, &main.out[i].up, &main.out[i].at, &main.out[i].pos};
        const RwV3d *workerRows[4] = {&worker.out[i].right, &worker.out[i].up, &worker.out[i].at,
                                      &worker.out[i].pos};
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(0, std::memcmp(rows[r], workerRows[r], sizeof(RwV3d))) << i << " row " << r;
            EXPECT_TRUE(std::isfinite(rows[r]->x) && std::isfinite(rows[r]->y) && std::isfinite(rows[r]->z)) << i;
        }
    }
    EXPECT_FLOAT_EQ(1e12f, main.out[4].right.x);
    EXPECT_FLOAT_EQ(1.0f / 4.3e12f, main.out[9].up.y);
    EXPECT_FLOAT_EQ(0.25f, main.out[8].up.y);
    EXPECT_FLOAT_EQ(-0.75f, main.out[8].pos.y);
    EXPECT_FLOAT_EQ(1e20f, main.out[0].right.x);
    EXPECT_FLOAT_EQ(-3e20f, main.out[0].pos.y);
    EXPECT_FLOAT_EQ(1e13f, main.out[1].at.z);
    EXPECT_FLOAT_EQ(1e30f, main.out[3].right.x);
    EXPECT_FLOAT_EQ(1.0f / 7e12f, main.out[5].right.x);
    EXPECT_FLOAT_EQ(1e-19f, main.out[6].up.y);
}

// Invertible exactly when the inverse exists and every value of it is a
// finite real; a singular matrix inverts to its cofactors, held finite.
TEST_F(Matrix, InvertibleExactlyWhenTheInverseIsFinite)
{
    const struct {
        RefMatrix m;
        RwBool invertible;
        RwReal rightX;   // of the inverse
    } cases[] = {
        {RefScaling(1e13, 1e13, 1e13), TRUE, 1e-13f},
        {RefScaling(1e-13, 1e-13, 1e-13), TRUE, 1e13f},
        {RefScaling(FLT_MAX, 1, 1), TRUE, 1.0f / FLT_MAX},   // below the normal range: 0 on every thread
        {RefScaling(1e-38, 1, 1), TRUE, 1e38f},
        {RefScaling(2e-39, 1, 1), FALSE, 1.0f},              // 5e38 is past the largest real
        {RefScaling(1e-39, 1e20, 1e19), FALSE, FLT_MAX},     // the inverse holds 1e39
        {RefScaling(1e-44, 1e20, 1e20), FALSE, FLT_MAX},     // cofactor 1e40, held finite
        // right = up + at exactly: the determinant is 0, though a sum of
        // rounded products makes it -1.26e7.
        {{{{-0x1.adf812p+24, 0x1.8efp+25, -0x1.230536p+27},
           {0x1.fb8p+10, 0x1.fep+20, -0x1.23p+27},
           {-0x1.aep+24, 0x1.7fp+25, -0x1.4d8p+13},
           {0, 0, 0}}},
         FALSE, 0},
    };
    for (const auto &c : cases) {
        const RwMatrix m = MakeMatrix(c.m, 0);
        EXPECT_EQ(c.invertible, RwMatrixInvertible(&m)) << c.m.r[0].x;
        RwMatrix inv;
        RwMatrixInvert(&inv, &m);
        const RwV3d *rows[4] = {&inv.right, &inv.up, &inv.at, &inv.pos};
        for (const RwV3d *r : rows) {
            EXPECT_TRUE(std::isfinite(r->x) && std::isfinite(r->y) && std::isfinite(r->z)) << c.m.r[0].x;
        }
        if (c.rightX != 0) {
            EXPECT_FLOAT_EQ(c.rightX < FLT_MIN ? 0.0f : c.rightX, inv.right.x) << c.m.r[0].x;
        }
    }
    // A position whose image overflows has no finite inverse either.
    RwMatrix far = MakeMatrix(RefScaling(1e-10, 1, 1), 0);
    far.pos = {1e30f, 0, 0};
    EXPECT_FALSE(RwMatrixInvertible(&far));
    // Flagged orthonormal, a matrix inverts to its transpose: here its
    // position goes past the largest real, however well scaled the rows.
    RwMatrix flagged = MakeMatrix(RefScaling(10, 10, 10), rwMATRIXTYPEORTHONORMAL);
    flagged.pos = {1e38f, 0, 0};
    EXPECT_FALSE(RwMatrixInvertible(&flagged));
}

TEST_F(Matrix, OrthoNormalizeKeepsTheRowOfTheMostPerpendicularPair)
{
    const struct {
        RefMatrix in;
        int kept;   // 0 right, 1 up, 2 at
    } cases[] = {
        {{{{1, 0, 0.2}, {0.2, 1, 0}, {0, 0, 1}, {0, 0, 0}}}, 1},    // |up.at| smallest
        {{{{1, 0, 0}, {0.3, 1, 0}, {0, 0.2, 1}, {0, 0, 0}}}, 2},    // |at.right| smallest
        {{{{1, 0, 0}, {0, 1, 0.2}, {0.2, 0, 1}, {0, 0, 0}}}, 0},    // otherwise
        {{{{0, 0, 0}, {0, 2, 0.5}, {0, 0, 1}, {0, 0, 0}}}, 1},      // a zero row is rebuilt
        {{{{1, 0, 0.5}, {0, 0, 0}, {0, 0, 1}, {0, 0, 0}}}, 2},
        {{{{1, 0.5, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}}}, 0},
    };
    for (const auto &c : cases) {
        RwMatrix in = MakeMatrix(c.in, 0x20000), m = in;
        m.flags = 0x20400;   // the output keeps its own other bits
        EXPECT_EQ(&m, RwMatrixOrthoNormalize(&m, &in));
        EXPECT_EQ(0x403u, m.flags);
        const RefV3 row = c.in.r[c.kept];
        EXPECT_TRUE(NearV3(RefScale(row, 1 / std::sqrt(RefDot(row, row))), Ref(m).r[c.kept], 1e-3)) << c.kept;
        EXPECT_LT(RwMatrixNormalError(&m), 1e-5);
        EXPECT_LT(RwMatrixOrthogonalError(&m), 1e-5);
        EXPECT_GT(RwMatrixDeterminant(&m), 0.99f);
    }
    RwMatrix m = MakeMatrix(RefGeneral(), 0);
    RwMatrixOrthoNormalize(&m, &m);   // in place; the position stays
    EXPECT_TRUE(NearV3(RefGeneral().r[3], Ref(m.pos), 0));
    EXPECT_LT(RwMatrixOrthogonalError(&m), 1e-5);
}

TEST_F(Matrix, ErrorMeasuresAndClassify)
{
    const RwMatrix e = MakeMatrix({{{2, 0, 0}, {1, 1, 0}, {0, 0, 1}, {1, 2, 2}}}, 0);
    EXPECT_FLOAT_EQ(2.0f, RwMatrixDeterminant(&e));
    EXPECT_FLOAT_EQ(4.0f, RwMatrixOrthogonalError(&e));   // up.right = 2
    EXPECT_FLOAT_EQ(10.0f, RwMatrixNormalError(&e));      // (4-1)^2 + (2-1)^2
    EXPECT_FLOAT_EQ(11.0f, RwMatrixIdentityError(&e));    // 1 + 1 + 0 + 9

    RwMatrixTolerance t;
    ASSERT_TRUE(RwMatrixGetTolerances(&t));
    EXPECT_TRUE(t.normal == 0.01f && t.orthogonal == 0.01f && t.identity == 0.01f);
    const RwMatrixTolerance loose = {0.01f, 0.01f, 1.0f};
    RwMatrix stretched = MakeMatrix(RefRotation({1, 0, 0}, 45, {0, 0, 0}), 0);
    stretched.right.x = 1.2f;
    const struct {
        RwMatrix m;
        const RwMatrixTolerance *tolerance;
        RwUInt32 flags;
    } cases[] = {
        {MakeMatrix(RefTranslation(0.05, 0, 0), 0x400), nullptr, 0x20403},   // identity error 0.0025
        {MakeMatrix(RefTranslation(0.2, 0, 0), 0x400), nullptr, 0x403},      // identity error 0.04
        {MakeMatrix(RefTranslation(0.2, 0, 0), 0x400), &loose, 0x20403},
        {stretched, nullptr, 2},                                              // orthogonal, not normal
        {MakeMatrix(RefScaling(1.2, 1, 1), 0), &loose, 2},   // identity only when orthonormal
        {MakeMatrix(RefGeneral(), 0x20003), nullptr, 0},
    };
    for (auto c : cases) {
        EXPECT_EQ(&c.m, RwMatrixClassify(&c.m, c.tolerance));
        EXPECT_EQ(c.flags, c.m.flags);
        EXPECT_EQ(c.flags & ~0x20003u, RwMatrixMarkChanged(&c.m)->flags);
    }
}

// Matrix chunk: header 0x0D, struct header 1 (with the given version stamp),
// twelve reals, flags & 3, then any extra struct words.
Bytes MatrixChunk(const RefMatrix &m, RwUInt32 flagsWord, RwUInt32 structSize = 52, RwUInt32 stamp = 0x1C020055)
{
    Bytes b;
    PutHeader(b, 0x0D, 12 + structSize);
    PutHeader(b, 1, structSize, stamp);
    for (const RefV3 &r : m.r) {
        PutReals(b, {float(r.x), float(r.y), float(r.z)});
    }
    Put32(b, flagsWord);
    for (RwUInt32 extra = 52; extra < structSize; extra += 4) {
        Put32(b, 0xEEEEEEEE);
    }
    return b;
}

// Readers are handed the stream standing inside the matrix chunk.
RwStream *OpenInsideMatrixChunk(Bytes &b, size_t n = static_cast<size_t>(-1))
{
    RwStream *s = OpenRead(b, n);
    EXPECT_TRUE(RwStreamFindChunk(s, 0x0D, nullptr, nullptr));
    return s;
}

RwMatrix *ReadBack(Bytes &b, RwMatrix *into)
{
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix *m = RwMatrixStreamRead(s, into);
    EXPECT_TRUE(m == nullptr || Unread(s) == 0);
    RwStreamClose(s, nullptr);
    return m;
}

TEST_F(Matrix, StreamWriteGivesTheDocumentedBytes)
{
    const RwMatrix m = MakeMatrix(RefGeneral(), 0x20100);
    RwStream *s = OpenWriteMemory();
    EXPECT_EQ(&m, RwMatrixStreamWrite(&m, s));
    EXPECT_EQ(MatrixChunk(RefGeneral(), 0), CloseWritten(s));
}

TEST_F(Matrix, StreamReadOrthonormalisesAndKeepsLowFlagBits)
{
    RefMatrix r = RefRotation({1, 2, 2}, 50, {1, 2, 3});
    r.r[0] = RefScale(r.r[0], 1.01);   // slightly off, still flagged orthonormal
    const RwMatrix m = MakeMatrix(r, 3);
    RwStream *s = OpenWriteMemory();
    ASSERT_NE(nullptr, RwMatrixStreamWrite(&m, s));
    Bytes written = CloseWritten(s);
    ASSERT_EQ(76u, written.size());
    EXPECT_EQ(3u, written[72]);
    float right[3];
    std::memcpy(right, written.data() + 24, 12);
    EXPECT_NEAR(1.0, std::sqrt(right[0] * right[0] + right[1] * right[1] + right[2] * right[2]), 1e-3);
    // Read back, and read by hand with the row still off: flags 3 ortho-normalise.
    Bytes byHand = MatrixChunk(r, 3);
    for (Bytes *b : {&written, &byHand}) {
        RwMatrix *back = ReadBack(*b, nullptr);
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(3u, back->flags);
        EXPECT_LT(RwMatrixNormalError(back), 1e-5);
        RwMatrixDestroy(back);
    }

    // A longer struct is read to the record and the rest skipped.
    Bytes general = MatrixChunk(RefGeneral(), 0xFFFFFFFDu, 64);
    RwMatrix into;
    EXPECT_EQ(&into, ReadBack(general, &into));
    EXPECT_EQ(1u, into.flags);
    EXPECT_TRUE(NearMatrix(RefGeneral(), into, 1e-6));
}

TEST_F(Matrix, StreamHostileInputIsRefused)
{
    Bytes missingStruct;
    PutHeader(missingStruct, 0x0D, 16);
    PutHeader(missingStruct, 2, 4);
    Put32(missingStruct, 0);
    const struct {
        Bytes bytes;
        RwUInt32 error;
    } cases[] = {
        {MatrixChunk(RefGeneral(), 0, 48), 0x8000001A},            // short struct
        {MatrixChunk(RefGeneral(), 0, 52, 0x310), 0x80000004},     // old-style stamp: version 0x31000
        {MatrixChunk(RefGeneral(), 0, 52, 0x1C030055), 0x80000004},
        {missingStruct, 0},   // the stream's own end-of-data error comes first
    };
    for (auto c : cases) {
        RwMatrix m;
        EXPECT_EQ(nullptr, ReadBack(c.bytes, &m));
        const RwUInt32 error = TakeErrorCode();
        EXPECT_TRUE(c.error ? error == c.error : error != 0x80000000u) << std::hex << error;
    }
    Bytes whole = MatrixChunk(RefGeneral(), 3);
    for (size_t n = 12; n < whole.size(); ++n) {
        RwStream *s = OpenInsideMatrixChunk(whole, n);
        RwMatrix m;
        EXPECT_EQ(nullptr, RwMatrixStreamRead(s, &m)) << n;
        EXPECT_NE(0x80000000u, TakeErrorCode()) << n;
        RwStreamClose(s, nullptr);
    }
}

TEST_F(Matrix, StreamNonFiniteRowsAreRefused)
{
    auto read = [](RwStream *s) { return RwStreamFindChunk(s, 0x0D, nullptr, nullptr) ? RwMatrixStreamRead(s, nullptr) : nullptr; };
    ExpectNonFiniteRefused(MatrixChunk(RefGeneral(), 0), {24, 44, 68}, read);
}

RwBool FailingWrite(void *, const void *, RwUInt32) { return FALSE; }

TEST_F(Matrix, StreamFailedWriteIsReported)
{
    RwStreamCustom custom = {};
    custom.sfnwrite = FailingWrite;
    RwStream *s = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMWRITE, &custom);
    ASSERT_NE(nullptr, s);
    const RwMatrix m = MakeMatrix(RefGeneral(), 0);
    EXPECT_EQ(nullptr, RwMatrixStreamWrite(&m, s));
    EXPECT_EQ(0x8000001Cu, TakeErrorCode());
    RwStreamClose(s, nullptr);
}

}  // namespace
