#include "bbox.h"

namespace kv {

BBox* BBoxCalculate(BBox* box, const V3d* points, int32 count) {
    box->max = points[0];
    box->min = points[0];
    for (int32 i = 1; i < count; ++i) BBoxAddPoint(box, &points[i]);
    return box;
}

BBox* BBoxAddPoint(BBox* box, const V3d* p) {
    if (p->x < box->min.x) box->min.x = p->x;
    if (p->y < box->min.y) box->min.y = p->y;
    if (p->z < box->min.z) box->min.z = p->z;
    if (p->x > box->max.x) box->max.x = p->x;
    if (p->y > box->max.y) box->max.y = p->y;
    if (p->z > box->max.z) box->max.z = p->z;
    return box;
}

bool BBoxContainsPoint(const BBox* box, const V3d* p) {
    return p->x >= box->min.x && p->x <= box->max.x && p->y >= box->min.y && p->y <= box->max.y && p->z >= box->min.z &&
           p->z <= box->max.z;
}

}  // namespace kv
