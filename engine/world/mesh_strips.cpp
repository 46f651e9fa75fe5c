#include "mesh_strips.h"

#include <algorithm>
#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "mesh.h"

namespace kv {

namespace {

constexpr int32 kNoNeighbour = -1;

// One material's triangles while strips are found in them.
struct StripWork {
    const BuildMeshTriangle** tris;  // the material's run of sorted triangles
    int32 count;
    int32* neighbour;  // 3 per triangle: across edge (v0,v1), (v1,v2), (v2,v0)
    uint8* used;
    uint32* trial;  // the trial that claimed a triangle last
    uint32 trialStamp;
};

struct EdgeRecord {
    uint32 low, high;
    int32 tri;
};

bool Degenerate(const uint32* v) { return v[0] == v[1] || v[1] == v[2] || v[0] == v[2]; }

// Triangles are neighbours across an edge that exactly two of them share.
bool BuildAdjacency(StripWork* w) {
    const int32 n = w->count;
    auto* edges = static_cast<EdgeRecord*>(KvMalloc(sizeof(EdgeRecord) * 3 * static_cast<std::size_t>(n)));
    if (edges == nullptr) return false;
    int32 numEdges = 0;
    for (int32 t = 0; t < n; ++t) {
        w->neighbour[3 * t] = w->neighbour[3 * t + 1] = w->neighbour[3 * t + 2] = kNoNeighbour;
        const uint32* v = w->tris[t]->vertIndex;
        if (Degenerate(v)) continue;  // stands alone
        for (int32 e = 0; e < 3; ++e) {
            const uint32 a = v[e], b = v[(e + 1) % 3];
            edges[numEdges++] = EdgeRecord{std::min(a, b), std::max(a, b), 3 * t + e};
        }
    }
    std::sort(edges, edges + numEdges, [](const EdgeRecord& x, const EdgeRecord& y) {
        if (x.low != y.low) return x.low < y.low;
        if (x.high != y.high) return x.high < y.high;
        return x.tri < y.tri;
    });
    for (int32 i = 0; i < numEdges;) {
        int32 j = i + 1;
        while (j < numEdges && edges[j].low == edges[i].low && edges[j].high == edges[i].high) ++j;
        // An edge of three or more triangles joins none of them.
        if (j - i == 2 && edges[i].tri / 3 != edges[i + 1].tri / 3) {
            w->neighbour[edges[i].tri] = edges[i + 1].tri / 3;
            w->neighbour[edges[i + 1].tri] = edges[i].tri / 3;
        }
        i = j;
    }
    KvFree(edges);
    return true;
}

int32 FreeNeighbours(const StripWork* w, int32 t) {
    int32 count = 0;
    for (int32 e = 0; e < 3; ++e) {
        const int32 n = w->neighbour[3 * t + e];
        if (n != kNoNeighbour && w->used[n] == 0) ++count;
    }
    return count;
}

// (a, b, c) names the same triangle, with the same winding, as v.
bool SameWinding(const uint32* v, uint32 a, uint32 b, uint32 c) {
    for (int32 r = 0; r < 3; ++r) {
        if (v[r] == a && v[(r + 1) % 3] == b && v[(r + 2) % 3] == c) return true;
    }
    return false;
}

// Grows a strip from triangle start entered with rotation r; claims the
// triangles for this trial. Writes the strip to out, returns its length.
uint32 GrowStrip(StripWork* w, int32 start, int32 r, uint32* out) {
    const uint32 stamp = ++w->trialStamp;
    const uint32* v = w->tris[start]->vertIndex;
    out[0] = v[r];
    out[1] = v[(r + 1) % 3];
    out[2] = v[(r + 2) % 3];
    uint32 len = 3;
    w->trial[start] = stamp;
    if (Degenerate(v)) return len;
    int32 current = start;
    for (;;) {
        const uint32 x = out[len - 2], y = out[len - 1];
        int32 next = kNoNeighbour;
        for (int32 e = 0; e < 3; ++e) {
            const int32 n = w->neighbour[3 * current + e];
            if (n == kNoNeighbour || w->used[n] != 0 || w->trial[n] == stamp) continue;
            const uint32* cv = w->tris[current]->vertIndex;
            const uint32 a = cv[e], b = cv[(e + 1) % 3];
            if ((a == x && b == y) || (a == y && b == x)) {
                next = n;
                break;
            }
        }
        if (next == kNoNeighbour) break;
        const uint32* nv = w->tris[next]->vertIndex;
        const uint32 third = nv[0] != x && nv[0] != y ? nv[0] : nv[1] != x && nv[1] != y ? nv[1] : nv[2];
        // Triangle len - 2 of a strip is (x, y, third) when even, (y, x, third) when odd.
        const bool even = ((len - 2) & 1) == 0;
        if (!(even ? SameWinding(nv, x, y, third) : SameWinding(nv, y, x, third))) break;
        out[len++] = third;
        w->trial[next] = stamp;
        current = next;
    }
    return len;
}

// Strips of one material joined into out; returns the length.
uint32 StripMaterial(StripWork* w, uint32* out, uint32* scratch) {
    uint32 total = 0;
    uint32* best = scratch;
    for (;;) {
        // Start where the fewest neighbours are free: such triangles are the
        // hardest to reach later.
        int32 start = -1, fewest = 4;
        for (int32 t = 0; t < w->count && fewest > 0; ++t) {
            if (w->used[t] != 0) continue;
            const int32 f = FreeNeighbours(w, t);
            if (f < fewest) {
                fewest = f;
                start = t;
            }
        }
        if (start < 0) break;
        uint32 bestLen = 0;
        int32 bestRotation = 0;
        for (int32 r = 0; r < 3; ++r) {
            const uint32 len = GrowStrip(w, start, r, best);
            if (len > bestLen) {
                bestLen = len;
                bestRotation = r;
            }
        }
        // Later trials may have claimed the best one's triangles again: grow
        // it once more and keep what this last trial claimed.
        bestLen = GrowStrip(w, start, bestRotation, best);
        for (int32 t = 0; t < w->count; ++t) {
            if (w->trial[t] == w->trialStamp) w->used[t] = 1;
        }
        total = StripAppend(out, total, best, bestLen);
    }
    return total;
}

}  // namespace

uint32 StripJoinedLength(uint32 outCount, uint32 nextCount) {
    if (outCount == 0) return nextCount;
    if (nextCount == 0) return outCount;
    return outCount + nextCount + ((outCount & 1) != 0 ? 3 : 2);
}

uint32 StripAppend(uint32* out, uint32 outCount, const uint32* next, uint32 nextCount) {
    if (nextCount == 0) return outCount;
    if (outCount == 0) {
        std::memcpy(out, next, sizeof(uint32) * nextCount);
        return nextCount;
    }
    uint32 n = outCount;
    out[n] = out[n - 1];
    ++n;
    const uint32 copies = (outCount & 1) != 0 ? 3 : 2;
    for (uint32 i = 0; i < copies; ++i) out[n++] = next[0];
    std::memcpy(out + n, next + 1, sizeof(uint32) * (nextCount - 1));
    return n + nextCount - 1;
}

MeshHeader* MeshesBuildStrips(const BuildMeshTriangle* triangles, int32 numTriangles) {
    if (numTriangles <= 0 || triangles == nullptr) return MeshesEmptyHeader();
    const BuildMeshTriangle** sorted = MeshesSortTriangles(triangles, numTriangles);
    if (sorted == nullptr) return nullptr;
    const auto n = static_cast<std::size_t>(numTriangles);
    // A strip of k triangles has k + 2 indices and a join adds at most 4, so
    // a material of m triangles needs at most 7m.
    auto* indices = static_cast<uint32*>(KvMalloc(sizeof(uint32) * 7 * n));
    auto* scratch = static_cast<uint32*>(KvMalloc(sizeof(uint32) * (n + 2)));
    auto* neighbour = static_cast<int32*>(KvMalloc(sizeof(int32) * 3 * n));
    auto* used = static_cast<uint8*>(KvCalloc(n, 1));
    auto* trial = static_cast<uint32*>(KvCalloc(n, sizeof(uint32)));
    // Per mesh: first index and count in `indices`.
    auto* runs = static_cast<uint32*>(KvMalloc(sizeof(uint32) * 2 * n));
    MeshHeader* header = nullptr;
    bool ok = indices != nullptr && scratch != nullptr && neighbour != nullptr && used != nullptr && trial != nullptr &&
              runs != nullptr;
    int32 numMeshes = 0;
    uint32 total = 0;
    for (int32 i = 0; ok && i < numTriangles;) {
        int32 j = i + 1;
        while (j < numTriangles && sorted[j]->material == sorted[i]->material) ++j;
        StripWork w{sorted + i, j - i, neighbour, used + i, trial + i, 0};
        if (!BuildAdjacency(&w)) {
            ok = false;
            break;
        }
        const uint32 len = StripMaterial(&w, indices + total, scratch);
        runs[2 * numMeshes] = total;
        runs[2 * numMeshes + 1] = len;
        ++numMeshes;
        total += len;
        i = j;
    }
    if (ok) {
        header = MeshHeaderCreate(numMeshes, total, kMeshHeaderTriStrip);
    } else {
        ErrorRaise(kModuleNone, kErrNoMemory);
    }
    if (header != nullptr) {
        Mesh* meshes = MeshHeaderGetMeshes(header);
        uint32* area = MeshHeaderGetIndexArea(header);
        int32 m = 0;
        for (int32 i = 0; i < numTriangles; ++m) {
            int32 j = i + 1;
            while (j < numTriangles && sorted[j]->material == sorted[i]->material) ++j;
            meshes[m].indices = area + runs[2 * m];
            meshes[m].numIndices = runs[2 * m + 1];
            meshes[m].material = sorted[i]->material;
            std::memcpy(meshes[m].indices, indices + runs[2 * m], sizeof(uint32) * runs[2 * m + 1]);
            i = j;
        }
    }
    KvFree(sorted);
    KvFree(indices);
    KvFree(scratch);
    KvFree(neighbour);
    KvFree(used);
    KvFree(trial);
    KvFree(runs);
    return header;
}

}  // namespace kv
