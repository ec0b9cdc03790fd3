// Registers every engine module and extension of the world module for tests, as a program does.
#pragma once

#include <gtest/gtest.h>

#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldids.h"

inline void RegisterWorldObjectModules()
{
    ASSERT_TRUE(RwWorldPluginAttach());
}

inline void RegisterMeshModule()
{
    RegisterWorldObjectModules();
}
