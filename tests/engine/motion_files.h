// Motion files for engine tests: `.anm` files written by the library into a loose-file tree.
#pragma once

#include "engine_host.h"
#include "gfx/core/engine.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/world/world.h"
#include "support/stream_bytes.h"

// The graphics library on the host window with scheme-1 and UV keyframes,
// through the counting memory functions.
struct CountedAnimationGraphics : ::testing::Environment {
    void SetUp() override
    {
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        ASSERT_TRUE(RwWorldPluginAttach() && RwAnimPluginAttach() && RwHAnimPluginAttach() && RwUVAnimPluginAttach());
        RwEngineOpenParams params = {HostWindow()};
        ASSERT_TRUE(RwEngineOpen(&params) && RwEngineStart());
    }
    void TearDown() override
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
    }
};

inline void WriteTreeFile(const std::string &path, const Bytes &bytes)
{
    WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

// Keyframes at 0 and the duration for each node; node n ends turned about z
// and moved n along x.
inline void WriteMotion(const std::string &path, int nodes, RwReal duration)
{
    RwAnimAnimation *a = RwAnimAnimationCreate(rwHANIMKEYFRAMESCHEME, 2 * nodes, 0, duration);
    RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
    for (int n = 0; n < nodes; n++) {
        k[n] = {nullptr, 0.0f, {0, 0, 0, 1}, {0, 0, 0}};
        k[nodes + n] = {&k[n], duration, {0, 0, 0.6f, 0.8f}, {static_cast<RwReal>(n), 0, 0}};
    }
    RwStream *stream = OpenWriteMemory();
    EXPECT_TRUE(RwAnimAnimationStreamWrite(a, stream));
    RwAnimAnimationDestroy(a);
    WriteTreeFile(path, CloseWritten(stream));
}
