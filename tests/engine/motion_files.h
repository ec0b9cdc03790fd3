// Motion files for engine tests: a loose-file tree read through an archive, `.anm` files written by the library.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "archive/CParcel.h"
#include "engine_host.h"
#include "gfx/core/engine.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "support/stream_bytes.h"

// The graphics library on the host window with the keyframe toolkit and
// scheme-1 keyframes, allocating through the counting test memory functions.
class CountedAnimationGraphics : public ::testing::Environment {
public:
    void SetUp() override
    {
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, 0x400000));
        ASSERT_TRUE(RwAnimPluginAttach());
        ASSERT_TRUE(RwHAnimPluginAttach());
        RwEngineOpenParams params = {HostWindow()};
        ASSERT_TRUE(RwEngineOpen(&params));
        ASSERT_TRUE(RwEngineStart());
    }
    void TearDown() override
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
    }
};

const char kMotionTree[] = "motiontree";

// Below the working folder, making the folders on the way.
inline void WriteTreeFile(const std::string &full, const Bytes &bytes)
{
    for (size_t slash = full.find('/'); slash != std::string::npos; slash = full.find('/', slash + 1))
        CreateDirectoryA(full.substr(0, slash).c_str(), nullptr);
    FILE *f = fopen(full.c_str(), "wb");
    ASSERT_NE(nullptr, f) << full;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Two keyframes per node, at 0 and the duration; node n turns about z and
// moves along x by n at the end.
inline RwAnimAnimation *MakeMotion(int nodes, RwReal duration)
{
    RwAnimAnimation *a = RwAnimAnimationCreate(rwHANIMKEYFRAMESCHEME, 2 * nodes, 0, duration);
    RwHAnimKeyFrame *k = static_cast<RwHAnimKeyFrame *>(a->pFrames);
    for (int n = 0; n < nodes; n++) {
        k[n] = {nullptr, 0.0f, {0, 0, 0, 1}, {0, 0, 0}};
        k[nodes + n] = {&k[n], duration, {0, 0, 0.6f, 0.8f}, {static_cast<RwReal>(n), 0, 0}};
    }
    return a;
}

// The motion's chunk as the library writes it.
inline Bytes MotionBytes(int nodes, RwReal duration)
{
    RwAnimAnimation *a = MakeMotion(nodes, duration);
    RwStream *stream = OpenWriteMemory();
    EXPECT_TRUE(RwAnimAnimationStreamWrite(a, stream));
    RwAnimAnimationDestroy(a);
    return CloseWritten(stream);
}

inline void WriteMotion(const std::string &path, int nodes, RwReal duration)
{
    WriteTreeFile(path, MotionBytes(nodes, duration));
}

// An archive serving the tree's loose files.
struct MotionArchive {
    CParcel parcel;
    MotionArchive()
    {
        CreateDirectoryA(kMotionTree, nullptr);
        EXPECT_TRUE(parcel.Open(0, kMotionTree, 2, 0x2800));
    }
    ~MotionArchive() { parcel.Close(); }
};
