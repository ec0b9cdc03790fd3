// Where compaction puts the contents of a packed archive, worked out over plain spans.
#pragma once

#include <cstdint>
#include <vector>

struct ParcelMove;

// Contents of a used region: where they lie and how many bytes.
struct ParcelSpan {
    uint32_t offset;
    uint32_t size;
};

// The layout compaction gives the used regions (spans in file order, the
// first at or after start; the room between them is the holes). Each hole,
// in file order, takes the largest region after it that fits (of equal ones
// the later, whose move frees more at the end), and what is left of it is
// the next hole; a region's old place becomes a hole in turn. Regions of no
// size go to start first, so that none of them parts two holes. Every region
// moves at most once, so the cost grows as n log n on any layout.
//
// A table holds at most holeRecords holes: a move that would need more is
// not made, and then a hole larger than slideOver takes the region right
// after it instead (a slide, which needs no record).
//
// at receives each span's new offset, moves the moves in an order in which
// they can be applied one after another. false without memory.
bool ParcelPlanLayout(const std::vector<ParcelSpan> &used, uint32_t start, uint64_t holeRecords, uint32_t slideOver,
                      std::vector<uint32_t> *at, std::vector<ParcelMove> *moves);
