#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
#include "matrix_reference.h"
#include "started_engine.h"
#include "stream_bytes.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine());

const RwInt32 kInvalidCombine = static_cast<RwInt32>(0x80000003u);

class Matrix : public ::testing::Test {
protected:
    void SetUp() override { TakeError(); }
    void TearDown() override
    {
        RwMatrixSetMultiplyFunction(nullptr);
        TakeError();
    }
};

TEST_F(Matrix, CreateGivesIdentity)
{
    RwMatrix *m = RwMatrixCreate();
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(0x20003u, m->flags);
    EXPECT_TRUE(NearMatrix(RefIdentity(), *m, 0));
    EXPECT_TRUE(RwMatrixDestroy(m));
}

TEST_F(Matrix, MultiplyByIdentityCopiesOtherExactly)
{
    RwMatrix id;
    RwMatrixSetIdentity(&id);
    const RwMatrix g = MakeMatrix(RefGeneral(), 0x1004500);
    RwMatrix out;
    std::memset(&out, 0xCD, sizeof out);
    RwMatrixMultiply(&out, &id, &g);
    EXPECT_EQ(0, std::memcmp(&out, &g, sizeof g));
    std::memset(&out, 0xCD, sizeof out);
    RwMatrixMultiply(&out, &g, &id);
    EXPECT_EQ(0, std::memcmp(&out, &g, sizeof g));
}

TEST_F(Matrix, MultiplyMatchesReferenceAndAndsFlags)
{
    const RefMatrix a = RefGeneral();
    const RefMatrix b = RefRotation({1, 2, 3}, 37, {-1, 2, 0.5});
    const RwMatrix ma = MakeMatrix(a, 0x1 | 0x100);
    const RwMatrix mb = MakeMatrix(b, 0x3);
    RwMatrix out;
    EXPECT_EQ(&out, RwMatrixMultiply(&out, &ma, &mb));
    EXPECT_TRUE(NearMatrix(RefMultiply(a, b), out, 1e-5));
    EXPECT_EQ(0x1u, out.flags);
}

TEST_F(Matrix, MultiplyIntoEitherOperand)
{
    const RefMatrix a = RefGeneral();
    const RefMatrix b = RefRotation({0, 1, 1}, -70, {4, 0, 1});
    RwMatrix ma = MakeMatrix(a, 0);
    const RwMatrix mb = MakeMatrix(b, 3);
    RwMatrixMultiply(&ma, &ma, &mb);
    EXPECT_TRUE(NearMatrix(RefMultiply(a, b), ma, 1e-5));

    const RwMatrix ma2 = MakeMatrix(a, 0);
    RwMatrix mb2 = MakeMatrix(b, 3);
    RwMatrixMultiply(&mb2, &ma2, &mb2);
    EXPECT_TRUE(NearMatrix(RefMultiply(a, b), mb2, 1e-5));

    RwMatrix sq = MakeMatrix(a, 0);
    RwMatrixMultiply(&sq, &sq, &sq);
    EXPECT_TRUE(NearMatrix(RefMultiply(a, a), sq, 1e-5));
}

int multiplyCalls = 0;
void CountingMultiply(RwMatrix *out, const RwMatrix *a, const RwMatrix *)
{
    ++multiplyCalls;
    out->right = a->right;
    out->up = a->up;
    out->at = a->at;
    out->pos = a->pos;
}

TEST_F(Matrix, InstalledMultiplyServesNonIdentityOperandsOnly)
{
    multiplyCalls = 0;
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(CountingMultiply));
    RwMatrix id, out;
    RwMatrixSetIdentity(&id);
    const RwMatrix g = MakeMatrix(RefGeneral(), 0);
    RwMatrixMultiply(&out, &id, &g);
    EXPECT_EQ(0, multiplyCalls);
    RwMatrixMultiply(&out, &g, &g);
    EXPECT_EQ(1, multiplyCalls);
    ASSERT_TRUE(RwMatrixSetMultiplyFunction(nullptr));
    RwMatrixMultiply(&out, &g, &g);
    EXPECT_EQ(1, multiplyCalls);
    EXPECT_TRUE(NearMatrix(RefMultiply(RefGeneral(), RefGeneral()), out, 1e-4));
}

TEST_F(Matrix, RotateNinetyAboutUnnormalisedZ)
{
    RwMatrix m;
    RwMatrixSetIdentity(&m);
    const RwV3d axis = {0, 0, 2};
    EXPECT_EQ(&m, RwMatrixRotate(&m, &axis, 90.0f, rwCOMBINEREPLACE));
    EXPECT_TRUE(NearV3({0, 1, 0}, Ref(m.right), 1e-5));
    EXPECT_TRUE(NearV3({-1, 0, 0}, Ref(m.up), 1e-5));
    EXPECT_TRUE(NearV3({0, 0, 1}, Ref(m.at), 1e-5));
    EXPECT_EQ(3u, m.flags);
}

TEST_F(Matrix, RotateCombinesBeforeAndAfter)
{
    const RefMatrix g = RefGeneral();
    const RefV3 axis = {1, -2, 0.5};
    const RefMatrix r = RefRotation(axis, 33, {0, 0, 0});
    const RwV3d rwAxis = {1, -2, 0.5f};

    RwMatrix m = MakeMatrix(g, 0);
    RwMatrixRotate(&m, &rwAxis, 33.0f, rwCOMBINEPRECONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(r, g), m, 2e-3));

    m = MakeMatrix(g, 0);
    RwMatrixRotate(&m, &rwAxis, 33.0f, rwCOMBINEPOSTCONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(g, r), m, 2e-3));
}

TEST_F(Matrix, TranslateBeforeMovesAlongOwnAxesAfterAlongWorldAxes)
{
    const RefMatrix r = RefRotation({0, 0, 1}, 90, {1, 1, 1});
    const RwV3d t = {2, 0, 0};
    RwMatrix m = MakeMatrix(r, 3);
    RwMatrixTranslate(&m, &t, rwCOMBINEPRECONCAT);
    EXPECT_TRUE(NearV3({1, 3, 1}, Ref(m.pos), 1e-5));
    EXPECT_EQ(3u, m.flags);

    m = MakeMatrix(r, 3);
    RwMatrixTranslate(&m, &t, rwCOMBINEPOSTCONCAT);
    EXPECT_TRUE(NearV3({3, 1, 1}, Ref(m.pos), 1e-5));
}

TEST_F(Matrix, TranslateMatchesReferenceProducts)
{
    const RefMatrix g = RefGeneral();
    RefMatrix t = RefIdentity();
    t.r[3] = {0.5, -3, 7};
    const RwV3d v = {0.5f, -3, 7};
    RwMatrix m = MakeMatrix(g, 0);
    RwMatrixTranslate(&m, &v, rwCOMBINEPRECONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(t, g), m, 1e-5));
    m = MakeMatrix(g, 0);
    RwMatrixTranslate(&m, &v, rwCOMBINEPOSTCONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(g, t), m, 1e-5));
    RwMatrixTranslate(&m, &v, rwCOMBINEREPLACE);
    EXPECT_TRUE(NearMatrix(t, m, 0));
    EXPECT_EQ(3u, m.flags);
}

TEST_F(Matrix, TranslateClearsIdentityFlagOnly)
{
    RwMatrix m;
    RwMatrixSetIdentity(&m);
    const RwV3d v = {0, 0, 0};
    RwMatrixTranslate(&m, &v, rwCOMBINEPOSTCONCAT);
    EXPECT_EQ(3u, m.flags);
}

TEST_F(Matrix, ScaleMatchesReferenceAndClearsTypeFlags)
{
    const RefMatrix g = RefGeneral();
    RefMatrix s = RefIdentity();
    s.r[0].x = 2;
    s.r[1].y = -0.5;
    s.r[2].z = 3;
    const RwV3d v = {2, -0.5f, 3};
    RwMatrix m = MakeMatrix(g, 3);
    RwMatrixScale(&m, &v, rwCOMBINEPRECONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(s, g), m, 1e-5));
    EXPECT_EQ(0u, m.flags);
    m = MakeMatrix(g, 3);
    RwMatrixScale(&m, &v, rwCOMBINEPOSTCONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(g, s), m, 1e-5));
    RwMatrixScale(&m, &v, rwCOMBINEREPLACE);
    EXPECT_TRUE(NearMatrix(s, m, 0));
}

TEST_F(Matrix, UnitScaleStillClearsNormalAndOrthogonal)
{
    RwMatrix m;
    RwMatrixSetIdentity(&m);
    const RwV3d one = {1, 1, 1};
    RwMatrixScale(&m, &one, rwCOMBINEPOSTCONCAT);
    EXPECT_EQ(0u, m.flags);
}

TEST_F(Matrix, TransformCombinesAndReplacesWithFlags)
{
    const RefMatrix g = RefGeneral();
    const RefMatrix r = RefRotation({3, 1, -1}, 120, {1, 2, 3});
    const RwMatrix mr = MakeMatrix(r, 3);
    RwMatrix m = MakeMatrix(g, 0);
    RwMatrixTransform(&m, &mr, rwCOMBINEPRECONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(r, g), m, 1e-5));
    m = MakeMatrix(g, 0);
    RwMatrixTransform(&m, &mr, rwCOMBINEPOSTCONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(g, r), m, 1e-5));
    RwMatrixTransform(&m, &mr, rwCOMBINEREPLACE);
    EXPECT_EQ(0, std::memcmp(&m, &mr, sizeof m));
}

TEST_F(Matrix, TransformByItselfSquares)
{
    const RefMatrix g = RefGeneral();
    RwMatrix m = MakeMatrix(g, 0);
    RwMatrixTransform(&m, &m, rwCOMBINEPRECONCAT);
    EXPECT_TRUE(NearMatrix(RefMultiply(g, g), m, 1e-4));
}

TEST_F(Matrix, InvalidCombineIsRefusedByEveryOperation)
{
    RwMatrix m = MakeMatrix(RefGeneral(), 0);
    const RwMatrix before = m;
    const RwV3d v = {1, 2, 3};
    const RwOpCombineType bad = static_cast<RwOpCombineType>(3);
    EXPECT_EQ(nullptr, RwMatrixTranslate(&m, &v, bad));
    EXPECT_EQ(kInvalidCombine, TakeError().errorCode);
    EXPECT_EQ(nullptr, RwMatrixScale(&m, &v, bad));
    EXPECT_EQ(kInvalidCombine, TakeError().errorCode);
    EXPECT_EQ(nullptr, RwMatrixRotate(&m, &v, 10.0f, bad));
    EXPECT_EQ(kInvalidCombine, TakeError().errorCode);
    EXPECT_EQ(nullptr, RwMatrixTransform(&m, &before, static_cast<RwOpCombineType>(-1)));
    EXPECT_EQ(kInvalidCombine, TakeError().errorCode);
    EXPECT_EQ(0, std::memcmp(&m, &before, sizeof m));
}

TEST_F(Matrix, InvertIdentityCopies)
{
    RwMatrix id, out;
    RwMatrixSetIdentity(&id);
    std::memset(&out, 0, sizeof out);
    RwMatrixInvert(&out, &id);
    EXPECT_EQ(0, std::memcmp(&out, &id, sizeof id));
}

TEST_F(Matrix, InvertOrthonormalTimesMatrixIsIdentity)
{
    const RefMatrix r = RefRotation({1, 1, 0}, 65, {5, -2, 8});
    const RwMatrix m = MakeMatrix(r, 3);
    RwMatrix inv;
    RwMatrixInvert(&inv, &m);
    EXPECT_EQ(3u, inv.flags);
    EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(Ref(inv), r), 0), 1e-5));
    EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(r, Ref(inv)), 0), 1e-5));
}

TEST_F(Matrix, InvertGeneralTimesMatrixIsIdentity)
{
    const RefMatrix g = RefGeneral();
    const RwMatrix m = MakeMatrix(g, 0);
    RwMatrix inv;
    RwMatrixInvert(&inv, &m);
    EXPECT_EQ(0u, inv.flags);
    EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(Ref(inv), g), 0), 1e-5));
    EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(g, Ref(inv)), 0), 1e-5));
}

TEST_F(Matrix, InvertInPlace)
{
    const RefMatrix g = RefGeneral();
    RwMatrix m = MakeMatrix(g, 0);
    RwMatrixInvert(&m, &m);
    EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(Ref(m), g), 0), 1e-5));
    const RefMatrix r = RefRotation({0, 0, 1}, 30, {1, 2, 3});
    RwMatrix o = MakeMatrix(r, 3);
    RwMatrixInvert(&o, &o);
    EXPECT_TRUE(NearMatrix(RefIdentity(), MakeMatrix(RefMultiply(Ref(o), r), 0), 1e-5));
}

TEST_F(Matrix, InvertSingularStaysFinite)
{
    RefMatrix s = RefGeneral();
    s.r[2] = s.r[0];   // two equal rows: determinant 0
    const RwMatrix m = MakeMatrix(s, 0);
    RwMatrix inv;
    RwMatrixInvert(&inv, &m);
    const RwReal *f = &inv.right.x;
    for (int i = 0; i < 15; ++i) {
        if (i == 3 || i == 7 || i == 11) continue;
        EXPECT_TRUE(std::isfinite(f[i])) << i;
    }
}

TEST_F(Matrix, OrthoNormalizeGivesOrthonormalRowsAndFlags)
{
    RwMatrix m = MakeMatrix(RefGeneral(), 0x20000 | 0x100);
    RwMatrix out;
    out.flags = 0x20000 | 0x400;
    EXPECT_EQ(&out, RwMatrixOrthoNormalize(&out, &m));
    EXPECT_EQ(0x403u, out.flags);
    EXPECT_LT(RwMatrixNormalError(&out), 1e-5);
    EXPECT_LT(RwMatrixOrthogonalError(&out), 1e-5);
    EXPECT_GT(RwMatrixDeterminant(&out), 0.99f);
    EXPECT_TRUE(NearV3(Ref(m.pos), Ref(out.pos), 0));
}

TEST_F(Matrix, OrthoNormalizeKeepsTheRowOfTheMostPerpendicularPair)
{
    // up and at are already perpendicular and at and right too: the pair
    // (at, right) wins, at keeps its direction, and up is rebuilt.
    RwMatrix m = MakeMatrix({{{2, 0, 0}, {0.3, 1, 0}, {0, 0, 3}, {0, 0, 0}}}, 0);
    RwMatrixOrthoNormalize(&m, &m);
    EXPECT_TRUE(NearV3({0, 0, 1}, Ref(m.at), 1e-3));
    EXPECT_TRUE(NearV3({1, 0, 0}, Ref(m.right), 1e-3));
    EXPECT_TRUE(NearV3({0, 1, 0}, Ref(m.up), 1e-3));
}

TEST_F(Matrix, OrthoNormalizeRebuildsAZeroRow)
{
    RwMatrix m = MakeMatrix({{{0, 0, 0}, {0, 2, 0}, {0, 0, 1}, {0, 0, 0}}}, 0);
    RwMatrixOrthoNormalize(&m, &m);
    EXPECT_TRUE(NearV3({1, 0, 0}, Ref(m.right), 1e-3));
    EXPECT_TRUE(NearV3({0, 1, 0}, Ref(m.up), 1e-3));
}

TEST_F(Matrix, ErrorMeasures)
{
    const RwMatrix m = MakeMatrix({{{2, 0, 0}, {1, 1, 0}, {0, 0, 1}, {1, 2, 2}}}, 0);
    EXPECT_FLOAT_EQ(2.0f, RwMatrixDeterminant(&m));
    // at.up = 0, at.right = 0, up.right = 2
    EXPECT_FLOAT_EQ(4.0f, RwMatrixOrthogonalError(&m));
    // (4-1)^2 + (2-1)^2 + 0
    EXPECT_FLOAT_EQ(10.0f, RwMatrixNormalError(&m));
    // right-(1,0,0) = (1,0,0): 1; up-(0,1,0) = (1,0,0): 1; at: 0; pos: 9
    EXPECT_FLOAT_EQ(11.0f, RwMatrixIdentityError(&m));
}

TEST_F(Matrix, ClassifyUsesTolerancesAndKeepsOtherBits)
{
    RwMatrixTolerance t;
    ASSERT_TRUE(RwMatrixGetTolerances(&t));
    EXPECT_FLOAT_EQ(0.01f, t.normal);
    EXPECT_FLOAT_EQ(0.01f, t.orthogonal);
    EXPECT_FLOAT_EQ(0.01f, t.identity);

    RwMatrix m = MakeMatrix(RefIdentity(), 0x400);
    m.pos.x = 0.05f;   // identity error 0.0025
    RwMatrixClassify(&m, nullptr);
    EXPECT_EQ(0x20403u, m.flags);
    m.pos.x = 0.2f;    // identity error 0.04
    RwMatrixClassify(&m, nullptr);
    EXPECT_EQ(0x403u, m.flags);
    const RwMatrixTolerance loose = {0.01f, 0.01f, 1.0f};
    RwMatrixClassify(&m, &loose);
    EXPECT_EQ(0x20403u, m.flags);

    RwMatrix r = MakeMatrix(RefRotation({1, 0, 0}, 45, {0, 0, 0}), 0);
    const RwV3d stretch = {1.2f, 1.0f, 1.0f};
    RwMatrixScale(&r, &stretch, rwCOMBINEPRECONCAT);
    RwMatrixClassify(&r, nullptr);
    EXPECT_EQ(2u, r.flags);   // orthogonal, not normal

    RwMatrix g = MakeMatrix(RefGeneral(), 0x3);
    RwMatrixClassify(&g, nullptr);
    EXPECT_EQ(0u, g.flags);
}

TEST_F(Matrix, MarkChangedClearsTypeFlags)
{
    RwMatrix m;
    RwMatrixSetIdentity(&m);
    m.flags |= 0x400;
    EXPECT_EQ(&m, RwMatrixMarkChanged(&m));
    EXPECT_EQ(0x400u, m.flags);
}

// Matrix chunk: header 0x0D/64, struct header 1/52, twelve reals, flags & 3.
Bytes MatrixChunk(const RefMatrix &m, RwUInt32 flagsWord, RwUInt32 structSize = 52, RwUInt32 stamp = kStamp)
{
    Bytes b;
    b.Header(0x0D, 12 + structSize, stamp).Header(1, structSize, stamp);
    for (int i = 0; i < 4; ++i) {
        b.F32(static_cast<float>(m.r[i].x)).F32(static_cast<float>(m.r[i].y)).F32(static_cast<float>(m.r[i].z));
    }
    b.U32(flagsWord);
    for (RwUInt32 extra = 52; extra < structSize; extra += 4) {
        b.U32(0xEEEEEEEE);
    }
    return b;
}

// Readers are handed the stream standing inside the matrix chunk.
RwStream *OpenInsideMatrixChunk(const Bytes &b, RwInt32 n = -1)
{
    RwStream *s = OpenRead(b, n);
    EXPECT_TRUE(RwStreamFindChunk(s, 0x0D, nullptr, nullptr));
    return s;
}

class MatrixStream : public Matrix {};

TEST_F(MatrixStream, WriteGivesTheDocumentedBytes)
{
    const RwMatrix m = MakeMatrix(RefGeneral(), 0x20000 | 0x100);
    RwStream *s = OpenWrite();
    EXPECT_EQ(&m, RwMatrixStreamWrite(&m, s));
    const std::vector<RwUInt8> written = CloseWrite(s);
    const Bytes expected = MatrixChunk(RefGeneral(), 0);
    EXPECT_EQ(expected.data, written);
}

TEST_F(MatrixStream, OrthonormalIsWrittenOrthonormalised)
{
    RefMatrix r = RefRotation({1, 2, 2}, 50, {1, 2, 3});
    r.r[0] = RefScale(r.r[0], 1.01);   // slightly off, still flagged orthonormal
    const RwMatrix m = MakeMatrix(r, 3);
    RwStream *s = OpenWrite();
    ASSERT_NE(nullptr, RwMatrixStreamWrite(&m, s));
    const std::vector<RwUInt8> written = CloseWrite(s);
    ASSERT_EQ(76u, written.size());
    float right[3];
    std::memcpy(right, written.data() + 24, 12);
    EXPECT_NEAR(1.0, std::sqrt(right[0] * right[0] + right[1] * right[1] + right[2] * right[2]), 1e-3);
    EXPECT_EQ(3u, written[72]);
}

TEST_F(MatrixStream, ReadKeepsLowFlagBitsOfGeneralMatrix)
{
    const Bytes b = MatrixChunk(RefGeneral(), 0xFFFFFFFDu);
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix m;
    EXPECT_EQ(&m, RwMatrixStreamRead(s, &m));
    EXPECT_EQ(1u, m.flags);
    EXPECT_TRUE(NearMatrix(RefGeneral(), m, 1e-6));
    EXPECT_EQ(0u, Remaining(s));
    RwStreamClose(s, nullptr);
}

TEST_F(MatrixStream, RoundTripOfOrthonormalGivesFlagsThree)
{
    const RefMatrix r = RefRotation({0, 1, 0}, 30, {4, 5, 6});
    const RwMatrix m = MakeMatrix(r, 3);
    RwStream *w = OpenWrite();
    ASSERT_NE(nullptr, RwMatrixStreamWrite(&m, w));
    Bytes b;
    b.data = CloseWrite(w);
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix *back = RwMatrixStreamRead(s, nullptr);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(3u, back->flags);
    EXPECT_TRUE(NearMatrix(r, *back, 1e-3));
    RwMatrixDestroy(back);
    RwStreamClose(s, nullptr);
}

TEST_F(MatrixStream, LongerStructIsReadToTheRecordAndTheRestSkipped)
{
    Bytes b = MatrixChunk(RefGeneral(), 0, 64);
    b.Header(2, 4).U32(0x00636261);   // a following string chunk "abc"
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix m;
    ASSERT_NE(nullptr, RwMatrixStreamRead(s, &m));
    EXPECT_TRUE(NearMatrix(RefGeneral(), m, 1e-6));
    RwUInt32 length = 0;
    EXPECT_TRUE(RwStreamFindChunk(s, 2, &length, nullptr));
    EXPECT_EQ(4u, length);
    RwStreamClose(s, nullptr);
}

TEST_F(MatrixStream, ShortStructIsRefused)
{
    Bytes b;
    b.Header(0x0D, 12 + 48).Header(1, 48);
    for (int i = 0; i < 12; ++i) b.F32(1.0f);
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix m;
    EXPECT_EQ(nullptr, RwMatrixStreamRead(s, &m));
    EXPECT_EQ(static_cast<RwInt32>(0x8000001Au), TakeError().errorCode);
    RwStreamClose(s, nullptr);
}

TEST_F(MatrixStream, WrongVersionIsRefused)
{
    // An old-style stamp 0x310 means version 0x31000.
    Bytes b;
    b.Header(0x0D, 64).Header(1, 52, 0x310);
    for (int i = 0; i < 13; ++i) b.U32(0);
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix m;
    EXPECT_EQ(nullptr, RwMatrixStreamRead(s, &m));
    EXPECT_EQ(static_cast<RwInt32>(0x80000004u), TakeError().errorCode);
    RwStreamClose(s, nullptr);
}

TEST_F(MatrixStream, MissingStructFails)
{
    Bytes b;
    b.Header(0x0D, 16).Header(2, 4).U32(0);
    RwStream *s = OpenInsideMatrixChunk(b);
    RwMatrix m;
    EXPECT_EQ(nullptr, RwMatrixStreamRead(s, &m));
    EXPECT_NE(static_cast<RwInt32>(0x80000000u), TakeError().errorCode);
    RwStreamClose(s, nullptr);
}

TEST_F(MatrixStream, TruncationAtEveryOffsetFailsCleanly)
{
    const Bytes b = MatrixChunk(RefGeneral(), 3);
    for (RwUInt32 n = 12; n < b.Size(); ++n) {
        RwStream *s = OpenInsideMatrixChunk(b, static_cast<RwInt32>(n));
        RwMatrix m;
        EXPECT_EQ(nullptr, RwMatrixStreamRead(s, &m)) << n;
        EXPECT_NE(static_cast<RwInt32>(0x80000000u), TakeError().errorCode) << n;
        RwStreamClose(s, nullptr);
    }
}

RwBool FailingWrite(void *, const void *, RwUInt32) { return FALSE; }

TEST_F(MatrixStream, FailedWriteIsReported)
{
    RwStreamCustom custom = {};
    custom.sfnwrite = FailingWrite;
    RwStream *s = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMWRITE, &custom);
    ASSERT_NE(nullptr, s);
    const RwMatrix m = MakeMatrix(RefGeneral(), 0);
    EXPECT_EQ(nullptr, RwMatrixStreamWrite(&m, s));
    EXPECT_EQ(static_cast<RwInt32>(0x8000001Cu), TakeError().errorCode);
    RwStreamClose(s, nullptr);
}

}  // namespace
