// Axis-aligned bounding boxes.
#pragma once

#include "vector.h"

namespace kv {

struct BBox {
    V3d max;  // per-axis maxima
    V3d min;  // per-axis minima
};
static_assert(sizeof(BBox) == 24);

// count >= 1. Returns box.
BBox* BBoxCalculate(BBox* box, const V3d* points, int32 count);
// Grows box to hold point.
BBox* BBoxAddPoint(BBox* box, const V3d* point);
bool BBoxContainsPoint(const BBox* box, const V3d* point);

}  // namespace kv
