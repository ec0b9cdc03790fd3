// 2D paths: sub-paths of moves, lines and cubic curves, their normals, and flattening.
#include <cmath>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/vector.h"
#include "t2dinternal.h"

namespace {

// Below this a miter's denominator would blow the corner up (a path turning
// back on itself gives 0): the corner keeps one of its normals instead.
const RwReal MiterLimit = 1.0e-3f;

RwBool IsLocked(const Rw2dPath *p)
{
    return p->count < 0;
}

// A record with no segments, locked.
Rw2dPath *NewSubPath(void)
{
    Rw2dPath *p = static_cast<Rw2dPath *>(Rw2dTake(rw2dGlobals.pathList));
    if (!p)
        return nullptr;
    p->segments = RwGrowArrayCreate(sizeof(Rw2dSegment), rwMEMHINT_2DOBJECT);
    if (!p->segments) {
        RwFreeListFree(rw2dGlobals.pathList, p);
        return nullptr;
    }
    p->count = -1;
    p->closed = 0;
    p->flat = 1;
    p->inset = 0.0f;
    p->next = nullptr;
    p->current = p;
    return p;
}

void FreeSubPath(Rw2dPath *p)
{
    if (IsLocked(p))
        RwGrowArrayDestroy(static_cast<RwGrowArray *>(p->segments));
    else
        RwFree(p->segments);
    RwFreeListFree(rw2dGlobals.pathList, p);
}

// Appends a segment to a locked sub-path; NULL when it cannot grow or is not locked.
Rw2dSegment *Append(Rw2dPath *sub, RwInt32 type, RwReal x, RwReal y)
{
    if (!IsLocked(sub))
        return nullptr;
    Rw2dSegment *s = static_cast<Rw2dSegment *>(RwGrowArrayAppend(static_cast<RwGrowArray *>(sub->segments),
                                                                  rwMEMHINT_2DOBJECT));
    if (!s)
        return nullptr;
    *s = {type, x, y, 0.0f, 0.0f, 0.0f};
    return s;
}

// Normal and miter bookkeeping for the segment just appended at index i.
void Join(Rw2dSegment *segs, RwInt32 i)
{
    Rw2dSegment &p = segs[i - 1];
    Rw2dSegment &q = segs[i];
    const RwReal dx = q.x - p.x, dy = q.y - p.y;
    const RwReal len = std::sqrt(dx * dx + dy * dy);
    if (len > 0.0f && std::isfinite(len)) {
        q.nx = dy / len;
        q.ny = -dx / len;
    } else {
        // A repeated point has no direction of its own: it carries the last one.
        q.nx = p.nx;
        q.ny = p.ny;
    }
    q.distance = p.distance + (std::isfinite(len) ? len : 0.0f);
    if (i == 1) {
        p.nx = q.nx;
        p.ny = q.ny;
        return;
    }
    const RwReal sx = p.nx + q.nx, sy = p.ny + q.ny;
    const RwReal den = p.nx * sx + p.ny * sy;
    if (den > MiterLimit) {
        p.nx = sx / den;
        p.ny = sy / den;
    } else if (p.nx == 0.0f && p.ny == 0.0f) {
        p.nx = q.nx;
        p.ny = q.ny;
    }
}

RwBool Finite(RwReal a, RwReal b)
{
    return std::isfinite(a) && std::isfinite(b);
}

Rw2dPath *AddPoint(Rw2dPath *path, RwInt32 type, RwReal x, RwReal y)
{
    Rw2dPath *sub = path->current;
    Rw2dSegment *s = Append(sub, type, x, y);
    if (!s)
        return nullptr;
    RwGrowArray *a = static_cast<RwGrowArray *>(sub->segments);
    Join(static_cast<Rw2dSegment *>(a->data), a->count - 1);
    return path;
}

} // namespace

RwBool Rw2dPathModuleOpen(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    g.pathList = RwFreeListCreateAndPreallocate(sizeof(Rw2dPath), 32, 4, 1, nullptr, rwMEMHINT_2DMODULE);
    if (!g.pathList)
        return FALSE;
    g.scratch = NewSubPath();
    if (!g.scratch) {
        Rw2dFreeListClose(&g.pathList);
        return FALSE;
    }
    return TRUE;
}

void Rw2dPathModuleClose(void)
{
    Rw2dGlobals &g = rw2dGlobals;
    if (g.scratch)
        Rw2dPathDestroy(g.scratch);
    g.scratch = nullptr;
    Rw2dFreeListClose(&g.pathList);
}

Rw2dPath *Rw2dPathCreate(void)
{
    return NewSubPath();
}

RwBool Rw2dPathDestroy(Rw2dPath *path)
{
    if (!path)
        return FALSE;
    while (path) {
        Rw2dPath *next = path->next;
        FreeSubPath(path);
        path = next;
    }
    return TRUE;
}

Rw2dSegment *Rw2dPathGetSegments(Rw2dPath *path, RwInt32 *count)
{
    if (!path) {
        *count = 0;
        return nullptr;
    }
    if (IsLocked(path)) {
        RwGrowArray *a = static_cast<RwGrowArray *>(path->segments);
        *count = a->count;
        return static_cast<Rw2dSegment *>(a->data);
    }
    *count = path->count;
    return static_cast<Rw2dSegment *>(path->segments);
}

Rw2dPath *Rw2dPathLock(Rw2dPath *path)
{
    for (Rw2dPath *p = path; p && !IsLocked(p); p = p->next) {
        RwGrowArray *a = RwGrowArrayCreate(sizeof(Rw2dSegment), rwMEMHINT_2DOBJECT);
        if (!a)
            return nullptr;
        if (p->count > 0) {
            void *room = RwGrowArrayAppendMany(a, p->count, rwMEMHINT_2DOBJECT);
            if (!room) {
                RwGrowArrayDestroy(a);
                return nullptr;
            }
            std::memcpy(room, p->segments, sizeof(Rw2dSegment) * static_cast<size_t>(p->count));
        }
        RwFree(p->segments);
        p->segments = a;
        p->count = -1;
    }
    return path;
}

Rw2dPath *Rw2dPathUnlock(Rw2dPath *path)
{
    for (Rw2dPath *p = path; p && IsLocked(p); p = p->next) {
        RwGrowArray *a = static_cast<RwGrowArray *>(p->segments);
        const RwInt32 n = a->count;
        p->segments = RwGrowArrayDetachData(a);
        p->count = n;
    }
    return path;
}

Rw2dPath *Rw2dPathMoveto(Rw2dPath *path, RwReal x, RwReal y)
{
    if (!path || !Finite(x, y))
        return nullptr;
    RwInt32 n = 0;
    Rw2dPathGetSegments(path->current, &n);
    if (n > 0) {
        Rw2dPath *sub = NewSubPath();
        if (!sub)
            return nullptr;
        sub->next = path->current->next;
        path->current->next = sub;
        path->current = sub;
    }
    return Append(path->current, rw2DSEGMOVE, x, y) ? path : nullptr;
}

Rw2dPath *Rw2dPathLineto(Rw2dPath *path, RwReal x, RwReal y)
{
    if (!path || !Finite(x, y))
        return nullptr;
    RwInt32 n = 0;
    Rw2dPathGetSegments(path->current, &n);
    // A line with nothing to start from starts the sub-path there.
    if (n == 0)
        return Rw2dPathMoveto(path, x, y);
    return AddPoint(path, rw2DSEGLINE, x, y);
}

Rw2dPath *Rw2dPathCurveto(Rw2dPath *path, RwReal x1, RwReal y1, RwReal x2, RwReal y2, RwReal x3, RwReal y3)
{
    if (!path || !Finite(x1, y1) || !Finite(x2, y2) || !Finite(x3, y3))
        return nullptr;
    RwInt32 n = 0;
    Rw2dPathGetSegments(path->current, &n);
    if (n == 0 && !Rw2dPathMoveto(path, x1, y1))
        return nullptr;
    if (!AddPoint(path, rw2DSEGCURVE, x1, y1) || !AddPoint(path, rw2DSEGCURVE, x2, y2) ||
        !AddPoint(path, rw2DSEGCURVE, x3, y3))
        return nullptr;
    path->current->flat = 0;
    return path;
}

Rw2dPath *Rw2dPathClosepath(Rw2dPath *path)
{
    if (!path)
        return nullptr;
    Rw2dPath *sub = path->current;
    RwInt32 n = 0;
    Rw2dSegment *s = Rw2dPathGetSegments(sub, &n);
    if (n == 0)
        return path;
    if (n > 1 && (s[0].x != s[n - 1].x || s[0].y != s[n - 1].y)) {
        if (!AddPoint(path, rw2DSEGLINE, s[0].x, s[0].y))
            return nullptr;
        s = Rw2dPathGetSegments(sub, &n);
    }
    if (n > 1) {
        const RwReal ax = s[n - 1].nx, ay = s[n - 1].ny;
        const RwReal bx = s[0].nx, by = s[0].ny;
        const RwReal sx = ax + bx, sy = ay + by;
        const RwReal den = bx * sx + by * sy;
        RwReal mx = bx, my = by;
        if (den > MiterLimit) {
            mx = sx / den;
            my = sy / den;
        }
        s[0].nx = s[n - 1].nx = mx;
        s[0].ny = s[n - 1].ny = my;
    }
    sub->closed = 1;
    return path;
}

Rw2dPath *Rw2dPathRect(Rw2dPath *path, RwReal x, RwReal y, RwReal w, RwReal h)
{
    if (!Rw2dPathMoveto(path, x, y) || !Rw2dPathLineto(path, x + w, y) || !Rw2dPathLineto(path, x + w, y + h) ||
        !Rw2dPathLineto(path, x, y + h))
        return nullptr;
    return Rw2dPathClosepath(path);
}

Rw2dPath *Rw2dPathGetBBox(Rw2dPath *path, Rw2dBBox *box)
{
    RwInt32 n = 0;
    const Rw2dSegment *s = Rw2dPathGetSegments(path, &n);
    if (!s || !box)
        return nullptr;
    for (RwInt32 i = 0; i < n; i++) {
        if (s[i].x < box->minX)
            box->minX = s[i].x;
        else if (s[i].x > box->maxX)
            box->maxX = s[i].x;
        if (s[i].y < box->minY)
            box->minY = s[i].y;
        else if (s[i].y > box->maxY)
            box->maxY = s[i].y;
    }
    return path;
}

Rw2dPath *Rw2dPathPrune(Rw2dPath *path)
{
    Rw2dPath *head = nullptr, *last = nullptr;
    for (Rw2dPath *p = path; p;) {
        Rw2dPath *next = p->next;
        RwInt32 n = 0;
        Rw2dPathGetSegments(p, &n);
        if (n == 1) {
            FreeSubPath(p);
        } else {
            p->next = nullptr;
            if (last)
                last->next = p;
            else
                head = p;
            last = p;
        }
        p = next;
    }
    if (head)
        head->current = last;
    return head;
}

Rw2dPath *Rw2dPathGetScratch(void)
{
    Rw2dPath *s = rw2dGlobals.scratch;
    if (!s)
        return nullptr;
    if (s->next)
        Rw2dPathDestroy(s->next);
    s->next = nullptr;
    s->current = s;
    s->closed = 0;
    s->flat = 1;
    RwGrowArrayClear(static_cast<RwGrowArray *>(s->segments));
    return s;
}

// Splits the cubic at its middle until its control points lie within the
// tolerance of the chord, or the level runs out (at most 2^level lines).
static RwBool Subdivide(Rw2dPath *target, const RwV2d &p0, const RwV2d &p1, const RwV2d &p2, const RwV2d &p3,
                        RwInt32 level, RwReal t)
{
    level--;
    if (level >= 0) {
        const RwReal dx = p3.x - p0.x, dy = p3.y - p0.y;
        const RwReal l2 = dx * dx + dy * dy;
        auto close = [&](const RwV2d &p) {
            const RwReal ex = p.x - p0.x, ey = p.y - p0.y;
            const RwReal dot = ex * dx + ey * dy;
            return ((ex * ex + ey * ey) - t) * l2 < dot * dot;
        };
        if (!(close(p1) && close(p2))) {
            const RwV2d p01 = {(p0.x + p1.x) * 0.5f, (p0.y + p1.y) * 0.5f};
            const RwV2d p12 = {(p1.x + p2.x) * 0.5f, (p1.y + p2.y) * 0.5f};
            const RwV2d p23 = {(p2.x + p3.x) * 0.5f, (p2.y + p3.y) * 0.5f};
            const RwV2d p012 = {(p01.x + p12.x) * 0.5f, (p01.y + p12.y) * 0.5f};
            const RwV2d p123 = {(p12.x + p23.x) * 0.5f, (p12.y + p23.y) * 0.5f};
            const RwV2d m = {(p012.x + p123.x) * 0.5f, (p012.y + p123.y) * 0.5f};
            return Subdivide(target, p0, p01, p012, m, level, t) && Subdivide(target, m, p123, p23, p3, level, t);
        }
    }
    return Rw2dPathLineto(target, p3.x, p3.y) != nullptr;
}

Rw2dPath *Rw2dPathFlatten(Rw2dPath *target, Rw2dPath *source)
{
    if (!target || !source)
        return nullptr;
    const RwReal t = Rw2dDeviceGetFlatTolerance();
    RwInt32 n = 0;
    const Rw2dSegment *s = Rw2dPathGetSegments(source, &n);
    for (RwInt32 i = 0; i < n; i++) {
        RwBool ok;
        if (s[i].type == rw2DSEGCURVE && i > 0 && i + 2 < n) {
            const RwV2d p0 = {s[i - 1].x, s[i - 1].y}, p1 = {s[i].x, s[i].y};
            const RwV2d p2 = {s[i + 1].x, s[i + 1].y}, p3 = {s[i + 2].x, s[i + 2].y};
            ok = Subdivide(target, p0, p1, p2, p3, rw2dGlobals.subdivision, t);
            i += 2;
        } else if (s[i].type == rw2DSEGMOVE) {
            ok = Rw2dPathMoveto(target, s[i].x, s[i].y) != nullptr;
        } else {
            ok = Rw2dPathLineto(target, s[i].x, s[i].y) != nullptr;
        }
        if (!ok)
            return nullptr;
    }
    if (source->closed)
        Rw2dPathClosepath(target);
    return target;
}
