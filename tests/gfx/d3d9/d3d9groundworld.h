// A world stream of one sector, shared by the device tests that draw a world.
#pragma once

#include "gfx/world/geometry.h"
#include "gfx/world/world.h"
#include "support/stream_bytes.h"

// A world of one sector: a pre-lit, textured ground square at y = -1 in front of the camera.
inline Bytes GroundWorld()
{
    const RwUInt32 format = 0x40000000 | 0x00010000 | rwGEOMETRYPRELIT | rwGEOMETRYTEXTURED | rwGEOMETRYPOSITIONS;
    Bytes sector;
    for (RwUInt32 v : {0u, 2u, 4u}) {
        Put32(sector, v);
    }
    PutReals(sector, {-20, -1, 0, 20, -1, 40});
    Put32(sector, 0);
    Put32(sector, 0);
    PutReals(sector, {-20, -1, 0, 20, -1, 0, -20, -1, 40, 20, -1, 40});
    for (int i = 0; i < 4; i++) {
        Put32(sector, 0xFFFFFFFF);
    }
    PutReals(sector, {0, 0, 1, 0, 0, 1, 1, 1});
    Put32(sector, 0 | (1u << 16));
    Put32(sector, 2);
    Put32(sector, 1 | (3u << 16));
    Put32(sector, 2);
    Bytes material;
    Put32(material, 0);
    Put32(material, 0xFFFFFFFF);
    Put32(material, 0);
    Put32(material, 0);
    PutReals(material, {1, 1, 1});
    Bytes body;
    PutHeader(body, rwID_STRUCT, 64);
    Put32(body, 1);
    PutReals(body, {0, 0, 0});
    for (RwUInt32 v : {2u, 4u, 0u, 1u, 0u, format}) {
        Put32(body, v);
    }
    PutReals(body, {20, -1, 40, -20, -1, 0});
    PutHeader(body, 8, 12 + 8 + 12 + 12 + 28 + 12);
    PutHeader(body, rwID_STRUCT, 8);
    Put32(body, 1);
    Put32(body, 0xFFFFFFFF);
    PutHeader(body, 7, 12 + 28 + 12);
    PutHeader(body, rwID_STRUCT, 28);
    body.insert(body.end(), material.begin(), material.end());
    PutHeader(body, 3, 0);
    PutHeader(body, 9, static_cast<RwUInt32>(12 + sector.size() + 12));
    PutHeader(body, rwID_STRUCT, static_cast<RwUInt32>(sector.size()));
    body.insert(body.end(), sector.begin(), sector.end());
    PutHeader(body, 3, 0);
    PutHeader(body, 3, 0);
    Bytes world;
    PutHeader(world, 0x0B, static_cast<RwUInt32>(body.size()));
    world.insert(world.end(), body.begin(), body.end());
    return world;
}

// The ground world read back; NULL when the reader refuses it.
inline RwWorld *ReadGroundWorld()
{
    Bytes bytes = GroundWorld();
    return ReadChunkWith(bytes, 0x0B, RwWorldStreamRead);
}
