// Starts the graphics library once per test program on the stand-in driver.
#pragma once

#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "support/test_driver.h"
#include "support/test_memory.h"

// Registrations that must happen between init and open go in the hook. The
// engine allocates through the counting test memory functions.
class StartedEngine : public ::testing::Environment {
public:
    explicit StartedEngine(void (*registerPlugins)() = nullptr, RwUInt32 arenaSize = 0x100000)
        : registerPlugins_(registerPlugins), arenaSize_(arenaSize)
    {
    }

    void SetUp() override
    {
        static RwEngineOpenParams params = {reinterpret_cast<void *>(0x1234)};
        RwTestDriverReset();
        RwTestMemoryReset();
        ASSERT_TRUE(RwEngineInit(&rwTestMemoryFunctions, 0, arenaSize_));
        if (registerPlugins_) {
            registerPlugins_();
        }
        ASSERT_TRUE(RwEngineOpen(&params));
        ASSERT_TRUE(RwEngineStart());
        RwErrorGetLast();
    }

    void TearDown() override
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
    }

private:
    void (*registerPlugins_)();
    RwUInt32 arenaSize_;
};

// Drives the engine down to idle from whatever state a test left it in.
inline void StopEngineWherever()
{
    if (RwEngineGetStatus() == rwENGINESTATUSSTARTED) {
        RwEngineStop();
    }
    if (RwEngineGetStatus() == rwENGINESTATUSOPENED) {
        RwEngineClose();
    }
    if (RwEngineGetStatus() == rwENGINESTATUSINITED) {
        RwEngineTerm();
    }
}

// The held error, cleared; plug-in id 0 and code 0x80000000 when none.
inline RwError TakeError() { return RwErrorGetLast(); }
inline RwUInt32 TakeErrorCode() { return static_cast<RwUInt32>(RwErrorGetLast().errorCode); }
