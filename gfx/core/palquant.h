// Palette quantiser: up to 256 colours for one or more images, and each pixel's index.
#pragma once

#include "rwtypes.h"
#include "memory.h"

struct RwImage;

// Order of use: init, add images, resolve, match each added image, term.

// Bits per channel that tell colour cells apart; leaves sit this deep in the tree.
enum : RwInt32 { rwPALQUANTDEPTH = 6, rwPALQUANTMAXCOLOR = 256 };

enum : RwUInt32 { rwMEMHINT_PALQUANTNODE = 0x30411 };

// Weight, weighted sums of the scaled channels and spread of a set of colours.
struct RwPalQuantMoments {
    RwReal weight;
    RwReal r;
    RwReal g;
    RwReal b;
    RwReal a;
    RwReal error;   // while adding: weighted sum of squares; folded: squared deviations from the mean
    RwUInt8 index;  // palette index of a leaf
};
static_assert(sizeof(RwPalQuantMoments) == 28, "moment set is 28 bytes");

struct RwPalQuantNode {
    RwPalQuantMoments moments;
    RwPalQuantNode *child[16];  // one per combination of one bit of R, G, B and A
};
static_assert(sizeof(RwPalQuantNode) == 92, "tree node is 92 bytes");

// Box of colour cells: lower corner included, upper corner excluded, per channel R, G, B, A.
struct RwPalQuantBox {
    RwInt32 col0[4];
    RwInt32 col1[4];
};

struct RwPalQuant {
    RwPalQuantBox boxes[rwPALQUANTMAXCOLOR];
    RwReal boxErrors[rwPALQUANTMAXCOLOR];
    RwPalQuantMoments boxMoments[rwPALQUANTMAXCOLOR];
    RwPalQuantNode *root;
    RwFreeList *nodeFreeList;
};

RwBool RwPalQuantInit(RwPalQuant *pq);
void RwPalQuantAddImage(RwPalQuant *pq, const RwImage *img, RwReal weight);
RwInt32 RwPalQuantResolvePalette(RwRGBA *palette, RwInt32 maxcols, RwPalQuant *pq);
void RwPalQuantMatchImage(RwUInt8 *dstpixels, RwInt32 dststride, RwInt32 dstdepth, RwBool dstPacked,
                          const RwPalQuant *pq, const RwImage *img);
RwBool RwPalQuantTerm(RwPalQuant *pq);
