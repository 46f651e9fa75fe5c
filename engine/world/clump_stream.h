// Stream writers of clumps, their geometry lists and atomics. Every chunk's
// length is the exact payload that follows its header, so each writer works
// out the sizes of all nested chunks before it writes the first header.
#pragma once

#include "engine/core/types.h"
#include "engine/stream/chunk.h"

namespace kv {

struct Atomic;
struct Clump;
struct Geometry;
struct Stream;

// The distinct geometries of a clump's atomics, in atomic-list order; each
// holds a reference while listed.
struct GeometryList {
    Geometry** geometries;
    int32 numGeometries;
};

// Null with kErrNoMemory when the list cannot be allocated. An empty clump
// gives an empty list.
GeometryList* GeometryListCreate(GeometryList* list, Clump* clump);
bool GeometryListFind(const GeometryList* list, const Geometry* geometry, int32* index);
// Releases the references and the array.
void GeometryListDestroy(GeometryList* list);
// Body length of the geometry-list chunk.
uint32 GeometryListStreamGetSize(const GeometryList* list);
const GeometryList* GeometryListStreamWrite(const GeometryList* list, Stream* stream);

// What an atomic refers to while written: the frame list it finds its frame
// in, and inside a clump the geometry list (none: the atomic is written on its
// own and carries its geometry chunk).
struct AtomicStreamContext {
    const FrameList* frameList;
    const GeometryList* geometryList;
};

constexpr uint32 kAtomicStructSize = 16;

// Body length of the atomic chunk.
uint32 AtomicStreamGetSize(const Atomic* atomic, const AtomicStreamContext* context);
// Fails (null, nothing written) when the atomic's frame is not in the frame
// list or, inside a clump, its geometry is not in the geometry list.
Atomic* AtomicStreamWrite(Atomic* atomic, const AtomicStreamContext* context, Stream* stream);

// Body length of the clump chunk; 0 (error raised) when the lists it needs
// cannot be built.
uint32 ClumpStreamGetSize(Clump* clump);
// The clump chunk: structure, frame list, geometry list, atomics, extension.
Clump* ClumpStreamWrite(Clump* clump, Stream* stream);

}  // namespace kv
