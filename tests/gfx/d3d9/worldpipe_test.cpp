// The device-restore hook of the world pipelines: it chains to the callback it found.
#include <gtest/gtest.h>

#include "gfx/d3d9/d3d9state.h"
#include "gfx/world/worldpipe.h"

namespace {

int earlier = 0;

TEST(WorldPipelineAttach, RestoreCallbackChainsOnce)
{
    RwD3D9SetDeviceRestoreCallback([] { ++earlier; });
    ASSERT_TRUE(RwD3D9WorldPipelineAttach());
    RwD3D9DeviceRestoreCallBack installed = RwD3D9GetDeviceRestoreCallback();
    ASSERT_TRUE(RwD3D9WorldPipelineAttach());
    EXPECT_EQ(installed, RwD3D9GetDeviceRestoreCallback());
    installed();
    EXPECT_EQ(1, earlier);
    RwD3D9SetDeviceRestoreCallback(nullptr);
}

}  // namespace
