// 2D shapes: objects that fill or stroke a list of path-and-brush nodes.
#include "gfx/core/engine.h"
#include "t2dinternal.h"

static Rw2dShapeNodeList *NodeList(Rw2dObject *shape)
{
    return shape && shape->type == rw2DOBJECTSHAPE ? Rw2dShapeGetData(shape)->list : nullptr;
}

Rw2dObject *Rw2dShapeCreate(void)
{
    Rw2dObject *shape = Rw2dObjectInit(Rw2dObjectAlloc(), rw2DOBJECTSHAPE);
    if (!shape)
        return nullptr;
    Rw2dShapeNodeList *list = static_cast<Rw2dShapeNodeList *>(RwMalloc(sizeof(Rw2dShapeNodeList), rwMEMHINT_2DOBJECT));
    RwGrowArray *nodes = RwGrowArrayCreate(sizeof(Rw2dShapeNode), rwMEMHINT_2DOBJECT);
    if (!list || !nodes) {
        RwFree(list);
        if (nodes)
            RwGrowArrayDestroy(nodes);
        Rw2dObjectFree(shape);
        return nullptr;
    }
    list->nodes = nodes;
    list->refCount = 1;
    Rw2dShapeGetData(shape)->list = list;
    shape->flags |= rw2DOBJECTFLAGKIND;
    return shape;
}

Rw2dObject *Rw2dShapeAddNode(Rw2dObject *shape, RwUInt32 flags, Rw2dPath *path, Rw2dBrush *brush)
{
    Rw2dShapeNodeList *list = NodeList(shape);
    if (!list || !path || !brush)
        return nullptr;
    Rw2dShapeNode *node = static_cast<Rw2dShapeNode *>(RwGrowArrayAppend(list->nodes, rwMEMHINT_2DOBJECT));
    if (!node)
        return nullptr;
    *node = {flags, path, Rw2dBrushAddRef(brush)};
    return shape;
}

RwBool Rw2dShapeDestroyInPlace(Rw2dObject *shape)
{
    Rw2dShapeNodeList *list = NodeList(shape);
    if (!shape || shape->type != rw2DOBJECTSHAPE)
        return FALSE;
    Rw2dShapeGetData(shape)->list = nullptr;
    if (list && --list->refCount <= 0) {
        Rw2dShapeNode *nodes = static_cast<Rw2dShapeNode *>(list->nodes->data);
        for (RwInt32 i = 0; i < list->nodes->count; i++) {
            if (nodes[i].path) {
                Rw2dPathDestroy(nodes[i].path);
                Rw2dBrushDestroy(nodes[i].brush);
            }
        }
        RwGrowArrayDestroy(list->nodes);
        RwFree(list);
    }
    return TRUE;
}

RwBool Rw2dShapeDestroy(Rw2dObject *shape)
{
    if (!shape || shape->type != rw2DOBJECTSHAPE)
        return FALSE;
    return Rw2dObjectDestroy(shape);
}

Rw2dObject *Rw2dShapeRenderKind(Rw2dObject *shape, const RwRGBAReal *pm, const RwRGBAReal *po)
{
    RwBool recomputed;
    if (!Rw2dObjectBeginRender(shape, &recomputed))
        return shape;
    RwRGBAReal mult, offs;
    Rw2dObjectEffectiveColor(shape, pm, po, &mult, &offs);
    Rw2dShapeNodeList *list = NodeList(shape);
    const RwInt32 n = list ? list->nodes->count : 0;
    for (RwInt32 i = 0; i < n; i++) {
        Rw2dShapeNode node = static_cast<Rw2dShapeNode *>(list->nodes->data)[i];
        if (!node.path || !node.brush)
            continue;
        Rw2dBrushColors saved;
        Rw2dBrushSaveColors(node.brush, &saved);
        Rw2dBrushApplyColorTransform(node.brush, &mult, &offs);
        if (node.flags & 1)
            Rw2dPathFill(node.path, node.brush);
        else
            Rw2dPathStroke(node.path, node.brush);
        Rw2dBrushRestoreColors(node.brush, &saved);
    }
    Rw2dCTMPop();
    return shape;
}

Rw2dObject *Rw2dShapeRender(Rw2dObject *shape)
{
    return shape && shape->type == rw2DOBJECTSHAPE ? Rw2dObjectRender(shape, nullptr, nullptr) : nullptr;
}
