// The sample scene's Lua script and its data: a second figure, its marching motion and the spot it stands on.
#pragma once

#include <cmath>
#include <string>

#include "sample/avatar_data.h"
#include "sample/sample_files.h"

const char kKivSampleSceneScript[] = "Data/Scripts/Sample.lua";

// Run once when the world is current; the viewer then calls SampleFrame every
// frame and SampleEnd before the world goes.
const char kKivSampleSceneScriptText[] = R"(-- The sample scene: the avatar's body as a pale figure marching in place beside the stone block.
local figure

function SampleFrame(seconds)
  figure:UpdateAnimation(seconds)
end

-- Defined before anything is made, so that it also undoes a set-up that failed halfway.
function SampleEnd()
  if figure then
    local home = figure:GetWorld()
    if not home:IsEmpty() then
      home:RemoveClump(figure)
    end
    figure:Release()
  end
  KivEngine.RemoveAnimation("march")
end

KivEngine.LoadAnimation("Data/Scripts/March.anm", "march")
figure = Clump.Load("Data/Avatar/Objects/1.dff", "Data/Avatar/Objects/Textures/")
-- The spot model holds only a root frame: where the figure stands, its size and its facing.
local spot = Clump.Load("Data/Scripts/Spot.dff")
figure:CopyMatrix(spot)
figure:UpdateObjects()
spot:Release()
KivEngine.GetCurrentWorld():AddClump(figure)
figure:PushAnimation("march", 0, true)
-- A quarter second in: mid-stride while the avatar's walk is at a turn of its own.
figure:UpdateAnimation(0.25)
)";

// Where the script's figure stands, at the avatar's size, turned about y.
const RwV3d kKivSampleFigureSpot = {3.6f, 0.0f, 1.0f};
const float kKivSampleFigureScale = 0.3f;
const float kKivSampleFigureTurn = 120.0f;

// A model of one frame and nothing to draw: its root matrix places whatever copies it.
inline std::string KivSampleSpotModel(RwV3d at, float scale, float turnDegrees)
{
    const float turn = turnDegrees * 3.14159265f / 180.0f;
    const float c = scale * std::cos(turn), s = scale * std::sin(turn);
    std::string counts, frames, geometries;
    for (int i = 0; i < 3; i++)
        PutU32(counts, 0);
    PutU32(frames, 1);
    for (float v : {c, 0.0f, -s, 0.0f, scale, 0.0f, s, 0.0f, c, at.x, at.y, at.z})
        PutF32(frames, v);
    PutU32(frames, 0xFFFFFFFFu);
    PutU32(frames, 0);
    PutU32(geometries, 0);
    return Chunk(0x10, Chunk(1, counts) + Chunk(0x0E, Chunk(1, frames) + Chunk(3, "")) +
                           Chunk(0x1A, Chunk(1, geometries)) + Chunk(3, ""));
}

// The script, its spot and its motion (two seconds, arms and legs swinging, no turn).
inline bool KivSampleWriteSceneScript()
{
    return KivSampleWrite(kKivSampleSceneScript, std::string(kKivSampleSceneScriptText)) &&
           KivSampleWrite("Data/Scripts/Spot.dff",
                          KivSampleSpotModel(kKivSampleFigureSpot, kKivSampleFigureScale, kKivSampleFigureTurn)) &&
           KivTestWriteAvatarMotion("Data/Scripts/March.anm", 2.0f, 0.0f, 35.0f);
}
