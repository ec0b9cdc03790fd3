// World queries and stand-ins of the collision, visibility, lightmap and particle plug-ins: what the engine asks of them.
#pragma once

#include "gfx/core/bbox.h"
#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwCamera;
struct RwWorld;
struct RwWorldSector;

enum : RwUInt32 {
    rwID_COLLISIONPLUGIN = 0x11D,
    rwID_PVSPLUGIN = 0x12A,
    rwID_LIGHTMAPPLUGIN = 0x114,
    rwID_PARTICLETANKPLUGIN = 0x12F,
    rwID_PARTICLESTANDARDPLUGIN = 0x130,
    rwID_PARTICLEADVANCEDPLUGIN = 0x132,
};

// Each registers its engine plug-in only: their blocks in world and model
// files are passed over on reading and never written.
RwBool RwCollisionPluginAttach(void);
RwBool RwPvsPluginAttach(void);
RwBool RwLightmapPluginAttach(void);   // also keeps a render style per world
RwBool RwParticleTankPluginAttach(void);
RwBool RwParticleStandardPluginAttach(void);   // also keeps an emitter list per atomic
RwBool RwParticleAdvancedPluginAttach(void);

struct RwLine {
    RwV3d start;
    RwV3d end;
};
static_assert(sizeof(RwLine) == 24, "line is two points");

enum RwIntersectionType : RwInt32 {
    rwINTERSECTNONE = 0,
    rwINTERSECTLINE = 1,
    rwINTERSECTPOINT = 2,
    rwINTERSECTSPHERE = 3,
    rwINTERSECTBOX = 4,
    rwINTERSECTATOMIC = 5,
};

struct RwIntersection {
    union {
        RwLine line;
        RwV3d point;
        RwSphere sphere;
        RwBBox box;                  // upper corner, then lower
        RwAtomic *atomic;
    } t;
    RwIntersectionType type;
};
static_assert(sizeof(RwIntersection) == 28, "shape, then its type");

struct RwCollisionTriangle {
    RwV3d normal;                    // unit face normal
    RwV3d point;                     // the first vertex
    RwInt32 index;                   // triangle index in its sector or geometry
    RwV3d *vertices[3];
};
static_assert(sizeof(RwCollisionTriangle) == 40, "collision triangle is ten words");

// Fills the triangle a, b, c: unit normal (b - a) x (c - a), which points up
// for a ground triangle wound to face a camera above it.
void RwCollisionTriangleSet(RwCollisionTriangle *triangle, RwV3d *a, RwV3d *b, RwV3d *c, RwInt32 index);

// Each callback returns what it was given to go on, NULL to stop.
typedef RwCollisionTriangle *(*RwIntersectionCallBackWorldTriangle)(RwIntersection *intersection,
                                                                    RwWorldSector *sector,
                                                                    RwCollisionTriangle *triangle,
                                                                    RwReal distance, void *data);
typedef RwAtomic *(*RwIntersectionCallBackAtomic)(RwIntersection *intersection, RwWorldSector *sector,
                                                  RwAtomic *atomic, RwReal distance, void *data);
typedef RwCollisionTriangle *(*RwIntersectionCallBackGeometryTriangle)(RwIntersection *intersection,
                                                                       RwCollisionTriangle *triangle,
                                                                       RwReal distance, void *data);

// Box intersections: every static triangle that meets the box, with distance
// 0. Line intersections: every static triangle the segment crosses from either
// side, with the segment parameter of the hit. Other shapes report nothing.
RwWorld *RwCollisionWorldForAllIntersections(RwWorld *world, RwIntersection *intersection,
                                             RwIntersectionCallBackWorldTriangle callback, void *data);
// Line intersections: each atomic of the world once whose world bounding
// sphere meets the segment, with a sector it is tied to (NULL when it has
// none) and the segment parameter where the segment enters the sphere.
RwWorld *RwWorldForAllAtomicIntersections(RwWorld *world, RwIntersection *intersection,
                                          RwIntersectionCallBackAtomic callback, void *data);
// Line intersections: each triangle of the atomic's first morph target, in
// world space, that the segment crosses from either side; the distance is the
// segment parameter of the hit. The vertices point at world-space copies that
// live for the call only.
RwAtomic *RwAtomicForAllIntersections(RwAtomic *atomic, RwIntersection *intersection,
                                      RwIntersectionCallBackGeometryTriangle callback, void *data);

// The line from the near to the far clip plane whose points project onto the
// pixel (raster coordinates, origin top-left); NULL when the camera has no
// frame buffer to measure pixels by.
RwLine *RwCameraComputePixelRay(const RwCamera *camera, RwLine *line, const RwV2d *pixel);

// No lightmap data is read, so every world has none.
RwInt32 RwLightmapWorldCountLightmaps(RwWorld *world);
RwWorld *RwLightmapSetRenderStyle(RwInt32 style, RwWorld *world);
RwInt32 RwLightmapGetRenderStyle(const RwWorld *world);

// Particle emitters are never created here: an atomic is a particle system
// only when it has been given an emitter list (which it does not own).
struct RwParticlePropertyTable {
    RwUInt32 *offsets;               // of each property's data in an emitter
    RwInt32 *ids;
    RwInt32 numProperties;
};
struct RwParticleEmitter {
    RwParticleEmitter *next;                        // the atomic's next emitter
    const RwParticlePropertyTable *propertyTable;   // where its properties lie, from the emitter's start
};
enum : RwInt32 { rwPARTICLEPROPERTYRENDER = 6 };
// The data of property 6: how the emitter's particles are blended.
struct RwParticleRenderSettings {
    RwInt32 srcBlend;
    RwInt32 destBlend;
    RwBool externalBlend;    // the blend is set from outside the emitter
    RwUInt32 flags;
};
static_assert(sizeof(RwParticleRenderSettings) == 16, "render settings are four words");
enum : RwUInt32 { rwPARTICLERENDERCHANGED = 0x10000000 };   // the renderer applies the settings anew
RwParticleEmitter *RwParticleAtomicGetEmitter(const RwAtomic *atomic);
// FALSE without the standard particle plug-in; a clone has no emitters.
RwBool RwParticleAtomicSetEmitter(RwAtomic *atomic, RwParticleEmitter *emitter);
RwAtomic *RwParticleAtomicUpdate(RwAtomic *atomic, void *data);
RwInt32 RwParticlePropertyTableGetOffset(const RwParticlePropertyTable *table, RwInt32 propertyID);
