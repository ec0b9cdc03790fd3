// Registers the world module's material, mesh and geometry engine modules for tests, as the world's attach would.
#pragma once

#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "gfx/world/mesh.h"
#include "gfx/world/worldids.h"

inline void RegisterMeshModule()
{
    ASSERT_GE(RwEngineRegisterPlugin(48, rwID_MESHMODULE, RwMeshModuleOpen, RwMeshModuleClose), 0);
}
