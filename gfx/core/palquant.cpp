// Palette quantiser: up to 256 colours for one or more images, and each pixel's index.
#include "palquant.h"

#include <cstring>

#include "engine.h"
#include "image.h"

namespace {

const RwInt32 rwPALQUANTNODESPERBLOCK = 1024;
const RwReal rwINV255 = 0.003921569f;
// Per-channel weights of the colour distance (R, G, B, A) and their inverses.
const RwReal channelScale[4] = {0.5093697f, 1.0f, 0.19420783f, 1.0f};
const RwReal channelUnscale[4] = {1.9632107f, 1.0f, 5.1491227f, 1.0f};

// Where a node's cells lie: lower corner per channel in cell units and the edge length.
struct CellRange {
    RwInt32 lo[4];
    RwInt32 size;
};

}  // namespace

// Spreads a 6-bit channel value so that its most significant bit lands in bit 0 and each
// following bit four places higher: one nibble of the key per tree level.
static RwUInt32 spreadTable[64];

static void BuildSpreadTable(void)
{
    for (RwInt32 v = 0; v < 64; v++) {
        RwUInt32 spread = 0;
        for (RwInt32 i = 0; i < rwPALQUANTDEPTH; i++)
            if (v & (1 << i))
                spread |= 1u << (4 * (5 - i));
        spreadTable[v] = spread;
    }
}

static RwUInt32 ColourKey(const RwRGBA &c)
{
    RwUInt32 key = spreadTable[c.red >> 2];
    key = (key << 1) | spreadTable[c.green >> 2];
    key = (key << 1) | spreadTable[c.blue >> 2];
    key = (key << 1) | spreadTable[c.alpha >> 2];
    return key;
}

static void ScaledColour(const RwRGBA &c, RwReal out[4])
{
    out[0] = static_cast<RwReal>(c.red) * rwINV255 * channelScale[0];
    out[1] = static_cast<RwReal>(c.green) * rwINV255 * channelScale[1];
    out[2] = static_cast<RwReal>(c.blue) * rwINV255 * channelScale[2];
    out[3] = static_cast<RwReal>(c.alpha) * rwINV255 * channelScale[3];
}

static RwReal *MomentSums(RwPalQuantMoments &m)
{
    return &m.r;
}

static const RwReal *MomentSums(const RwPalQuantMoments &m)
{
    return &m.r;
}

static RwPalQuantNode *NewNode(RwFreeList *list)
{
    RwPalQuantNode *node = static_cast<RwPalQuantNode *>(RwFreeListAlloc(list, rwMEMHINT_PALQUANTNODE));
    if (node)
        memset(node, 0, sizeof(*node));
    return node;
}

static void FreeTree(RwFreeList *list, RwPalQuantNode *node)
{
    for (RwPalQuantNode *child : node->child)
        if (child)
            FreeTree(list, child);
    RwFreeListFree(list, node);
}

RwBool RwPalQuantInit(RwPalQuant *pq)
{
    BuildSpreadTable();
    pq->nodeFreeList = RwFreeListCreate(sizeof(RwPalQuantNode), rwPALQUANTNODESPERBLOCK, 4, rwMEMHINT_PALQUANTNODE);
    if (!pq->nodeFreeList)
        return FALSE;
    pq->root = NewNode(pq->nodeFreeList);
    if (!pq->root) {
        RwFreeListDestroy(pq->nodeFreeList);
        pq->nodeFreeList = nullptr;
        return FALSE;
    }
    return TRUE;
}

RwBool RwPalQuantTerm(RwPalQuant *pq)
{
    if (pq->root)
        FreeTree(pq->nodeFreeList, pq->root);
    pq->root = nullptr;
    if (pq->nodeFreeList)
        RwFreeListDestroy(pq->nodeFreeList);
    pq->nodeFreeList = nullptr;
    return TRUE;
}

// Adding ------------------------------------------------------------------------------------------

static void AddColour(RwPalQuant *pq, const RwRGBA &c, RwReal weight)
{
    const RwUInt32 key = ColourKey(c);
    RwPalQuantNode *node = pq->root;
    for (RwInt32 level = 0; level < rwPALQUANTDEPTH; level++) {
        const RwUInt32 slot = (key >> (4 * level)) & 15;
        if (!node->child[slot]) {
            node->child[slot] = NewNode(pq->nodeFreeList);
            if (!node->child[slot])
                return;
        }
        node = node->child[slot];
    }
    // The leaf holds only the low two bits; its cell adds the rest when the tree is folded.
    const RwRGBA low = {static_cast<RwUInt8>(c.red & 3), static_cast<RwUInt8>(c.green & 3),
                        static_cast<RwUInt8>(c.blue & 3), static_cast<RwUInt8>(c.alpha & 3)};
    RwReal v[4];
    ScaledColour(low, v);
    RwPalQuantMoments &m = node->moments;
    m.weight += weight;
    RwReal *sums = MomentSums(m);
    for (RwInt32 i = 0; i < 4; i++)
        sums[i] += v[i] * weight;
    m.error += (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]) * weight;
}

// The colour of pixel (x, y), through the palette for palettised images.
static RwRGBA PixelColour(const RwImage *img, RwInt32 x, RwInt32 y)
{
    const RwUInt8 *row = img->cpPixels + static_cast<size_t>(y) * img->stride;
    if (img->depth == 32) {
        const RwRGBA c = {row[x * 4], row[x * 4 + 1], row[x * 4 + 2], row[x * 4 + 3]};
        return c;
    }
    // A 4-bit image has 16 palette entries, whatever a stray high nibble says.
    return img->palette[row[x] & (img->depth == 4 ? 0x0F : 0xFF)];
}

static RwBool ImageHasColours(const RwImage *img)
{
    if (!img || !img->cpPixels)
        return FALSE;
    if (img->depth == 32)
        return TRUE;
    return (img->depth == 4 || img->depth == 8) && img->palette;
}

void RwPalQuantAddImage(RwPalQuant *pq, const RwImage *img, RwReal weight)
{
    if (!pq || !pq->root || !ImageHasColours(img))
        return;
    for (RwInt32 y = 0; y < img->height; y++)
        for (RwInt32 x = 0; x < img->width; x++)
            AddColour(pq, PixelColour(img, x, y), weight);
}

// Folding and boxes -------------------------------------------------------------------------------

static RwReal MergeTerm(const RwPalQuantMoments &a, const RwPalQuantMoments &b)
{
    if (a.weight <= 0.0f || b.weight <= 0.0f)
        return 0.0f;
    const RwReal *sa = MomentSums(a);
    const RwReal *sb = MomentSums(b);
    RwReal dist = 0.0f;
    for (RwInt32 i = 0; i < 4; i++) {
        const RwReal d = sa[i] / a.weight - sb[i] / b.weight;
        dist += d * d;
    }
    return dist / (1.0f / a.weight + 1.0f / b.weight);
}

static void Merge(RwPalQuantMoments &into, const RwPalQuantMoments &m)
{
    const RwReal term = MergeTerm(into, m);
    into.error = into.error + m.error + term;
    into.weight += m.weight;
    RwReal *s = MomentSums(into);
    const RwReal *t = MomentSums(m);
    for (RwInt32 i = 0; i < 4; i++)
        s[i] += t[i];
}

static CellRange ChildRange(const CellRange &parent, RwInt32 slot)
{
    CellRange r;
    r.size = parent.size >> 1;
    // Slot bit 3 is red, bit 2 green, bit 1 blue, bit 0 alpha.
    for (RwInt32 ch = 0; ch < 4; ch++)
        r.lo[ch] = parent.lo[ch] + (((slot >> (3 - ch)) & 1) ? r.size : 0);
    return r;
}

static const CellRange rootRange = {{0, 0, 0, 0}, 64};

static void Fold(RwPalQuantNode *node, const CellRange &range)
{
    RwPalQuantMoments &m = node->moments;
    if (range.size == 1) {
        RwReal *s = MomentSums(m);
        if (m.weight > 0.0f) {
            RwReal e = m.error - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2] + s[3] * s[3]) / m.weight;
            m.error = e < 0.0f ? 0.0f : e;
        } else {
            m.error = 0.0f;
        }
        const RwRGBA base = {static_cast<RwUInt8>(range.lo[0] << 2), static_cast<RwUInt8>(range.lo[1] << 2),
                             static_cast<RwUInt8>(range.lo[2] << 2), static_cast<RwUInt8>(range.lo[3] << 2)};
        RwReal v[4];
        ScaledColour(base, v);
        for (RwInt32 i = 0; i < 4; i++)
            s[i] += v[i] * m.weight;
        return;
    }
    const RwUInt8 index = m.index;
    memset(&m, 0, sizeof(m));
    m.index = index;
    for (RwInt32 slot = 0; slot < 16; slot++) {
        if (!node->child[slot])
            continue;
        Fold(node->child[slot], ChildRange(range, slot));
        Merge(m, node->child[slot]->moments);
    }
}

static RwInt32 CountLeaves(const RwPalQuantNode *node, RwInt32 depth)
{
    if (depth == rwPALQUANTDEPTH)
        return 1;
    RwInt32 n = 0;
    for (const RwPalQuantNode *child : node->child)
        if (child)
            n += CountLeaves(child, depth + 1);
    return n;
}

static void MeanColour(const RwPalQuantMoments &m, RwRGBA *out)
{
    RwUInt8 ch[4] = {0, 0, 0, 0};
    if (m.weight > 0.0f) {
        const RwReal *s = MomentSums(m);
        for (RwInt32 i = 0; i < 4; i++) {
            const RwReal v = s[i] / m.weight * channelUnscale[i] * 255.99f;
            ch[i] = v >= 255.0f ? 255 : (v <= 0.0f ? 0 : static_cast<RwUInt8>(static_cast<RwInt32>(v)));
        }
    }
    out->red = ch[0];
    out->green = ch[1];
    out->blue = ch[2];
    out->alpha = ch[3];
}

// Gives every leaf the next index in depth-first order and its mean as palette entry.
static void NumberLeaves(RwPalQuantNode *node, RwInt32 depth, RwRGBA *palette, RwInt32 *next)
{
    if (depth == rwPALQUANTDEPTH) {
        node->moments.index = static_cast<RwUInt8>(*next);
        MeanColour(node->moments, &palette[*next]);
        (*next)++;
        return;
    }
    for (RwPalQuantNode *child : node->child)
        if (child)
            NumberLeaves(child, depth + 1, palette, next);
}

enum RangeInBox { rangeOutside, rangeInside, rangePartly };

static RangeInBox Classify(const CellRange &r, const RwPalQuantBox &box)
{
    RwBool inside = TRUE;
    for (RwInt32 ch = 0; ch < 4; ch++) {
        if (r.lo[ch] + r.size <= box.col0[ch] || r.lo[ch] >= box.col1[ch])
            return rangeOutside;
        if (r.lo[ch] < box.col0[ch] || r.lo[ch] + r.size > box.col1[ch])
            inside = FALSE;
    }
    return inside ? rangeInside : rangePartly;
}

static void GatherBox(const RwPalQuantNode *node, const CellRange &range, const RwPalQuantBox &box,
                      RwPalQuantMoments &out)
{
    switch (Classify(range, box)) {
    case rangeOutside:
        return;
    case rangeInside:
        Merge(out, node->moments);
        return;
    case rangePartly:
        for (RwInt32 slot = 0; slot < 16; slot++)
            if (node->child[slot])
                GatherBox(node->child[slot], ChildRange(range, slot), box, out);
        return;
    }
}

static RwPalQuantMoments BoxMoments(const RwPalQuant *pq, const RwPalQuantBox &box)
{
    RwPalQuantMoments m;
    memset(&m, 0, sizeof(m));
    GatherBox(pq->root, rootRange, box, m);
    return m;
}

static void MarkBox(RwPalQuantNode *node, const CellRange &range, const RwPalQuantBox &box, RwUInt8 index)
{
    const RangeInBox where = Classify(range, box);
    if (where == rangeOutside)
        return;
    if (range.size == 1) {
        node->moments.index = index;
        return;
    }
    for (RwInt32 slot = 0; slot < 16; slot++)
        if (node->child[slot])
            MarkBox(node->child[slot], ChildRange(range, slot), box, index);
}

// Best cut of a box along one channel by bisection; returns the least error sum found
// (the box's error when no cut helps) and the cut in *cut (-1 when none).
static RwReal BestCut(const RwPalQuant *pq, RwInt32 b, RwInt32 ch, RwInt32 *cut)
{
    const RwPalQuantBox &box = pq->boxes[b];
    const RwPalQuantMoments &whole = pq->boxMoments[b];
    const RwReal boxError = pq->boxErrors[b];
    // Weights below this are rounding left over from subtracting equal sums.
    const RwReal emptyWeight = whole.weight * 1e-6f;
    RwReal best = boxError;
    *cut = -1;
    RwInt32 lo = box.col0[ch];
    RwInt32 hi = box.col1[ch];
    while (hi - lo > 1) {
        const RwInt32 m = lo + (hi - lo) / 2;
        RwPalQuantBox lowerBox = box;
        lowerBox.col1[ch] = m;
        const RwPalQuantMoments below = BoxMoments(pq, lowerBox);
        RwPalQuantMoments above;
        memset(&above, 0, sizeof(above));
        above.weight = whole.weight - below.weight;
        for (RwInt32 i = 0; i < 4; i++)
            MomentSums(above)[i] = MomentSums(whole)[i] - MomentSums(below)[i];
        if (below.weight <= emptyWeight) {
            lo = m;
            continue;
        }
        if (above.weight <= emptyWeight) {
            hi = m;
            continue;
        }
        above.error = boxError - below.error - MergeTerm(below, above);
        const RwReal sum = below.error + above.error;
        if (sum < best) {
            best = sum;
            *cut = m;
        }
        if (below.error < above.error)
            lo = m;
        else
            hi = m;
    }
    return best;
}

RwInt32 RwPalQuantResolvePalette(RwRGBA *palette, RwInt32 maxcols, RwPalQuant *pq)
{
    if (!palette || !pq || !pq->root || maxcols <= 0)
        return 0;
    if (maxcols > rwPALQUANTMAXCOLOR)
        maxcols = rwPALQUANTMAXCOLOR;
    Fold(pq->root, rootRange);
    memset(palette, 0, static_cast<size_t>(maxcols) * sizeof(RwRGBA));

    const RwInt32 leaves = CountLeaves(pq->root, 0);
    if (leaves <= maxcols) {
        RwInt32 next = 0;
        NumberLeaves(pq->root, 0, palette, &next);
        return leaves;
    }

    RwPalQuantBox &first = pq->boxes[0];
    for (RwInt32 ch = 0; ch < 4; ch++) {
        first.col0[ch] = 0;
        first.col1[ch] = 64;
    }
    pq->boxMoments[0] = BoxMoments(pq, first);
    pq->boxErrors[0] = pq->boxMoments[0].error;
    RwInt32 numBoxes = 1;

    while (numBoxes < maxcols) {
        RwInt32 chosen = -1;
        RwReal worst = 0.0f;
        for (RwInt32 b = 0; b < numBoxes; b++) {
            if (pq->boxErrors[b] > worst) {
                worst = pq->boxErrors[b];
                chosen = b;
            }
        }
        if (chosen < 0)
            break;
        RwInt32 bestAxis = 0;
        RwInt32 bestCut = -1;
        RwReal bestSum = 0.0f;
        for (RwInt32 ch = 0; ch < 4; ch++) {
            RwInt32 cut;
            const RwReal sum = BestCut(pq, chosen, ch, &cut);
            if (ch == 0 || sum < bestSum) {
                bestSum = sum;
                bestAxis = ch;
                bestCut = cut;
            }
        }
        if (!(bestSum < pq->boxErrors[chosen]) || bestCut < 0) {
            pq->boxErrors[chosen] = 0.0f;
            continue;
        }
        const RwInt32 added = numBoxes++;
        pq->boxes[added] = pq->boxes[chosen];
        pq->boxes[added].col0[bestAxis] = bestCut;
        pq->boxes[chosen].col1[bestAxis] = bestCut;
        pq->boxMoments[chosen] = BoxMoments(pq, pq->boxes[chosen]);
        pq->boxErrors[chosen] = pq->boxMoments[chosen].error;
        pq->boxMoments[added] = BoxMoments(pq, pq->boxes[added]);
        pq->boxErrors[added] = pq->boxMoments[added].error;
    }

    for (RwInt32 b = 0; b < numBoxes; b++) {
        MarkBox(pq->root, rootRange, pq->boxes[b], static_cast<RwUInt8>(b));
        MeanColour(pq->boxMoments[b], &palette[b]);
    }
    return maxcols;
}

// Matching ----------------------------------------------------------------------------------------

namespace {
struct NearestSearch {
    RwReal target[4];
    RwReal bestDistance;
    RwUInt8 bestIndex;
};
}  // namespace

// Squared distance from the target to the nearest colour a range of cells can hold.
static RwReal RangeDistance(const CellRange &r, const RwReal target[4])
{
    RwReal d = 0.0f;
    for (RwInt32 ch = 0; ch < 4; ch++) {
        const RwReal lo = static_cast<RwReal>(r.lo[ch] * 4) * rwINV255 * channelScale[ch];
        const RwReal hi = static_cast<RwReal>((r.lo[ch] + r.size) * 4 - 1) * rwINV255 * channelScale[ch];
        const RwReal t = target[ch];
        const RwReal e = t < lo ? lo - t : (t > hi ? t - hi : 0.0f);
        d += e * e;
    }
    return d;
}

static void FindNearest(const RwPalQuantNode *node, const CellRange &range, NearestSearch &s)
{
    if (range.size == 1) {
        const RwPalQuantMoments &m = node->moments;
        if (m.weight <= 0.0f)
            return;
        RwReal d = 0.0f;
        for (RwInt32 ch = 0; ch < 4; ch++) {
            const RwReal e = MomentSums(m)[ch] / m.weight - s.target[ch];
            d += e * e;
        }
        if (d < s.bestDistance) {
            s.bestDistance = d;
            s.bestIndex = m.index;
        }
        return;
    }
    for (RwInt32 slot = 0; slot < 16; slot++) {
        if (!node->child[slot])
            continue;
        const CellRange r = ChildRange(range, slot);
        if (RangeDistance(r, s.target) < s.bestDistance)
            FindNearest(node->child[slot], r, s);
    }
}

static RwUInt8 MatchColour(const RwPalQuant *pq, const RwRGBA &c)
{
    const RwUInt32 key = ColourKey(c);
    const RwPalQuantNode *node = pq->root;
    for (RwInt32 level = 0; level < rwPALQUANTDEPTH && node; level++)
        node = node->child[(key >> (4 * level)) & 15];
    if (node)
        return node->moments.index;
    // A colour that was never added: take the added cell whose colour is closest.
    NearestSearch s;
    ScaledColour(c, s.target);
    s.bestDistance = 1e30f;
    s.bestIndex = 0;
    FindNearest(pq->root, rootRange, s);
    return s.bestIndex;
}

void RwPalQuantMatchImage(RwUInt8 *dstpixels, RwInt32 dststride, RwInt32 dstdepth, RwBool dstPacked,
                          const RwPalQuant *pq, const RwImage *img)
{
    if (!dstpixels || !pq || !pq->root || !ImageHasColours(img))
        return;
    const RwBool pack = dstdepth == 4 && dstPacked;
    for (RwInt32 y = 0; y < img->height; y++) {
        RwUInt8 *dst = dstpixels + static_cast<size_t>(y) * dststride;
        for (RwInt32 x = 0; x < img->width; x++) {
            const RwUInt8 index = MatchColour(pq, PixelColour(img, x, y));
            if (!pack)
                dst[x] = index;
            else if (x & 1)
                dst[x >> 1] = static_cast<RwUInt8>((dst[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
            else
                dst[x >> 1] = static_cast<RwUInt8>(index & 0x0F);
        }
    }
}
