// Reader costs: toon paint and ink dictionaries of growing size (reading must
// grow linearly with the entries), and matrix inversion beside the plain
// inverse in doubles that it replaced (a determinant summed once, no exact
// verdict), timed over the same random matrices.
#include <windows.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/benchmode.h"
#include "gfx/core/engine.h"
#include "gfx/core/matrix.h"
#include "gfx/core/stream.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/world.h"

namespace {

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

void Put32(std::vector<unsigned char> &b, RwUInt32 v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void Header(std::vector<unsigned char> &b, RwUInt32 type, RwUInt32 size)
{
    Put32(b, type);
    Put32(b, size);
    Put32(b, 0x1C020055);
}

void Name(std::vector<unsigned char> &b, int i)
{
    char name[32] = {};
    std::snprintf(name, sizeof name, "entry%d", i);
    b.insert(b.end(), name, name + 32);
}

// A paint file of untextured paints, or an ink file of current inks.
std::vector<unsigned char> DictionaryFile(bool paints, int count)
{
    std::vector<unsigned char> b;
    Header(b, 1, 8);
    Put32(b, paints ? 0xBCDE0001 : 0x56780001);
    Put32(b, static_cast<RwUInt32>(count));
    for (int i = 0; i < count; ++i) {
        if (paints) {
            Header(b, 1, 40);
            Put32(b, 0x43210001);
            Put32(b, 0);
            Name(b, i);
        } else {
            Header(b, 1, 52);
            Put32(b, 0x12340002);
            Name(b, i);
            const float reals[4] = {1.0f, 0.0f, 1.0f, 1.0f};   // width, colour bytes, near, far
            for (float r : reals) {
                RwUInt32 v;
                std::memcpy(&v, &r, 4);
                Put32(b, v);
            }
        }
    }
    return b;
}

// Seconds for the fastest of three reads.
double ReadSeconds(bool paints, int count)
{
    std::vector<unsigned char> file = DictionaryFile(paints, count);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        RwMemory memory = {file.data(), static_cast<RwUInt32>(file.size())};
        RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
        const double t0 = Now();
        void *d = paints ? static_cast<void *>(RwToonPaintDictionaryStreamRead(stream))
                         : static_cast<void *>(RwToonInkDictionaryStreamRead(stream));
        const double t = Now() - t0;
        RwStreamClose(stream, nullptr);
        if (!d) {
            std::printf("dictionary of %d entries not read\n", count);
            return 0;
        }
        if (paints)
            RwToonPaintDictionaryDestroy(static_cast<RwToonPaintDictionary *>(d));
        else
            RwToonInkDictionaryDestroy(static_cast<RwToonInkDictionary *>(d));
        best = std::min(best, t);
    }
    return best;
}

// The inverse as it was before the exact verdict: cofactors and one
// determinant in doubles, singular outside the normal range. Called, not
// inlined, as the library's functions are.
double plainSink = 0;

bool PlainUsable(double det)
{
    const double magnitude = std::fabs(det);
    return magnitude >= FLT_MIN && magnitude <= 1.0 / FLT_MIN;
}

double PlainCofactors(const RwMatrix *in, double c[3][3])
{
    const double r[3] = {in->right.x, in->right.y, in->right.z};
    const double u[3] = {in->up.x, in->up.y, in->up.z};
    const double a[3] = {in->at.x, in->at.y, in->at.z};
    const double c0[3] = {u[1] * a[2] - u[2] * a[1], u[2] * a[0] - u[0] * a[2], u[0] * a[1] - u[1] * a[0]};
    const double c1[3] = {a[1] * r[2] - a[2] * r[1], a[2] * r[0] - a[0] * r[2], a[0] * r[1] - a[1] * r[0]};
    const double c2[3] = {r[1] * u[2] - r[2] * u[1], r[2] * u[0] - r[0] * u[2], r[0] * u[1] - r[1] * u[0]};
    for (int i = 0; i < 3; ++i) {
        c[i][0] = c0[i];
        c[i][1] = c1[i];
        c[i][2] = c2[i];
    }
    return r[0] * c0[0] + r[1] * c0[1] + r[2] * c0[2];
}

float PlainRound(double v) { return std::fabs(v) < FLT_MIN ? 0.0f : static_cast<float>(v); }

__attribute__((noinline)) void PlainInvert(RwMatrix *out, const RwMatrix *in)
{
    double c[3][3];
    const double det = PlainCofactors(in, c);
    const double k = PlainUsable(det) ? 1.0 / det : 1.0;
    for (auto &row : c)
        for (double &v : row)
            v *= k;
    out->right = {PlainRound(c[0][0]), PlainRound(c[0][1]), PlainRound(c[0][2])};
    out->up = {PlainRound(c[1][0]), PlainRound(c[1][1]), PlainRound(c[1][2])};
    out->at = {PlainRound(c[2][0]), PlainRound(c[2][1]), PlainRound(c[2][2])};
    double p[3];
    for (int j = 0; j < 3; ++j)
        p[j] = -(in->pos.x * c[0][j] + in->pos.y * c[1][j] + in->pos.z * c[2][j]);
    out->pos = {PlainRound(p[0]), PlainRound(p[1]), PlainRound(p[2])};
    out->flags = 0;
}

__attribute__((noinline)) bool PlainInvertible(const RwMatrix *m)
{
    double c[3][3];
    return PlainUsable(PlainCofactors(m, c));
}

std::vector<RwMatrix> RandomMatrices(int count)
{
    std::vector<RwMatrix> m(static_cast<size_t>(count));
    RwUInt32 seed = 12345;
    auto next = [&seed]() { return static_cast<float>((seed = seed * 1103515245u + 12345u) >> 8) / 8388608.0f - 1.0f; };
    for (RwMatrix &x : m) {
        std::memset(&x, 0, sizeof x);
        x.right = {next(), next(), next()};
        x.up = {next(), next(), next()};
        x.at = {next(), next(), next()};
        x.pos = {next() * 10, next() * 10, next() * 10};
    }
    return m;
}

// Nanoseconds a call of each, the fastest of ten passes over the matrices;
// the two take turns, so a busy moment of the machine slows both.
template <class F, class G>
void NanosecondsEach(const std::vector<RwMatrix> &in, F f, G g, double *fTime, double *gTime)
{
    *fTime = *gTime = 1e9;
    for (int pass = 0; pass < 10; ++pass) {
        double t0 = Now();
        for (const RwMatrix &m : in)
            f(m);
        *fTime = std::min(*fTime, (Now() - t0) * 1e9 / static_cast<double>(in.size()));
        t0 = Now();
        for (const RwMatrix &m : in)
            g(m);
        *gTime = std::min(*gTime, (Now() - t0) * 1e9 / static_cast<double>(in.size()));
    }
}

}  // namespace

int main()
{
    KivBenchSayDirect3DMode(false);
    RwEngineOpenParams params = {reinterpret_cast<void *>(0x1234)};
    if (!RwEngineInit(nullptr, 0, 0) || !RwWorldPluginAttach() || !RwToonPluginAttach() || !RwEngineOpen(&params) ||
        !RwEngineStart()) {
        std::printf("engine start failed\n");
        return 1;
    }
    for (bool paints : {true, false}) {
        std::printf("%s dictionaries:\n", paints ? "paint" : "ink");
        double at20000 = 0, at160000 = 0;
        for (int count : {5000, 20000, 80000, 160000}) {
            const double s = ReadSeconds(paints, count);
            std::printf("  %6d entries: %.4f s\n", count, s);
            at20000 = count == 20000 ? s : at20000;
            at160000 = count == 160000 ? s : at160000;
        }
        std::printf("  160,000 / 20,000: %.1f (target at most 16)\n", at160000 / at20000);
    }

    const std::vector<RwMatrix> matrices = RandomMatrices(200000);
    RwMatrix out;
    int invertible = 0;
    double invert, plainInvert, verdict, plainVerdict;
    NanosecondsEach(
        matrices,
        [&](const RwMatrix &m) {
            RwMatrixInvert(&out, &m);
            plainSink += out.pos.x;
        },
        [&](const RwMatrix &m) {
            PlainInvert(&out, &m);
            plainSink += out.pos.x;
        },
        &invert, &plainInvert);
    NanosecondsEach(
        matrices, [&](const RwMatrix &m) { invertible += RwMatrixInvertible(&m); },
        [&](const RwMatrix &m) { invertible += PlainInvertible(&m); }, &verdict, &plainVerdict);
    std::printf("RwMatrixInvert:     %.1f ns, plain inverse %.1f ns: %.2f (target at most 2)\n", invert, plainInvert,
                invert / plainInvert);
    std::printf("RwMatrixInvertible: %.1f ns, plain verdict %.1f ns: %.2f (target at most 2)\n", verdict, plainVerdict,
                verdict / plainVerdict);
    std::printf("(checksum %g %d)\n", plainSink, invertible);
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    return 0;
}
