// Registers the world module's material, mesh and geometry engine modules for tests, as the world's attach would.
#pragma once

#include <gtest/gtest.h>

#include "gfx/core/engine.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/worldids.h"

inline void RegisterMeshModule()
{
    ASSERT_GE(RwEngineRegisterPlugin(48, rwID_MESHMODULE, RwMeshModuleOpen, RwMeshModuleClose), 0);
}

inline void RegisterWorldObjectModules()
{
    ASSERT_GE(RwEngineRegisterPlugin(4, rwID_MATERIALMODULE, RwMaterialModuleOpen, RwMaterialModuleClose), 0);
    RegisterMeshModule();
    ASSERT_GE(RwEngineRegisterPlugin(4, rwID_GEOMETRYMODULE, RwGeometryModuleOpen, RwGeometryModuleClose), 0);
}
