#include "quantiser.h"

#include <cstring>

#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "image.h"

namespace kv {

// Colour sums are channel / 255, weighted. Doubles: a float's 24 bits stop
// counting a single colour exactly after a few hundred thousand pixels, and
// the mean of a one-colour picture would drift off that colour.
struct QuantiserLeaf {
    double weight;
    double sumRed;
    double sumGreen;
    double sumBlue;
    double sumAlpha;
    double sumSquares;
    uint8 paletteIndex;  // 255 until a palette is made
};

// Inner nodes on levels 0 to 3 (indexed by one nibble of the key, the root
// by the lowest); their children on level 4 are leaves.
union QuantiserNode {
    QuantiserNode* child[16];
    QuantiserLeaf leaf;
};

namespace {

constexpr int32 kNodesPerBlock = 64;
constexpr int32 kLeafLevel = 4;
constexpr int32 kAxes = 4;
constexpr int32 kCells = 32;  // 5-bit values per axis
constexpr float kInverse255 = 0.003921569f;
constexpr double kToByte = 255.9999;

struct Moments {
    double weight;
    double sum[kAxes];
    double squares;

    void Add(const QuantiserLeaf& leaf) {
        weight += leaf.weight;
        sum[0] += leaf.sumRed;
        sum[1] += leaf.sumGreen;
        sum[2] += leaf.sumBlue;
        sum[3] += leaf.sumAlpha;
        squares += leaf.sumSquares;
    }
    void Add(const Moments& m) {
        weight += m.weight;
        for (int32 i = 0; i < kAxes; ++i) sum[i] += m.sum[i];
        squares += m.squares;
    }
    double SumLengthSquared() const { return sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2] + sum[3] * sum[3]; }
    float Variance() const {
        if (weight <= 0.0) return 0.0f;
        const double v = squares - SumLengthSquared() / weight;
        return v > 0.0 ? static_cast<float>(v) : 0.0f;
    }
};

// A box's moments, also sliced along each axis: slices[axis][v] holds the
// leaves whose coordinate on that axis is v.
struct Slices {
    Moments total;
    Moments slices[kAxes][kCells];
};

QuantiserNode* NewNode(Quantiser* q) {
    auto* node = static_cast<QuantiserNode*>(KvFreeListAlloc(q->nodes));
    if (node != nullptr) std::memset(node, 0, sizeof(QuantiserNode));
    return node;
}

uint32 Key(const Quantiser* q, const RGBA& c) {
    return ((q->spread[c.red >> 3] * 2 | q->spread[c.green >> 3]) * 2 | q->spread[c.blue >> 3]) * 2 |
           q->spread[c.alpha >> 3];
}

QuantiserLeaf* FindLeaf(Quantiser* q, uint32 key, bool create) {
    QuantiserNode* node = q->root;
    for (int32 level = 0; level <= kLeafLevel; ++level) {
        QuantiserNode** slot = &node->child[(key >> (4 * level)) & 15];
        if (*slot == nullptr) {
            if (!create) return nullptr;
            QuantiserNode* made = NewNode(q);
            if (made == nullptr) return nullptr;
            if (level == kLeafLevel) {
                made->leaf.paletteIndex = 255;
                ++q->leafCount;
            }
            *slot = made;
        }
        node = *slot;
    }
    return &node->leaf;
}

// Calls visit(leaf, coordinates) for every leaf inside the box, skipping each
// subtree whose cube lies outside it.
template <typename Visit>
void VisitBox(QuantiserNode* node, int32 level, const uint8 corner[kAxes], const QuantiserBox& box, Visit& visit) {
    const int32 size = 16 >> level;  // edge of each child's cube
    for (int32 i = 0; i < 16; ++i) {
        QuantiserNode* child = node->child[i];
        if (child == nullptr) continue;
        uint8 c[kAxes];
        bool inside = true;
        for (int32 axis = 0; axis < kAxes; ++axis) {
            // Nibble bit 3 is red, bit 0 alpha.
            c[axis] = static_cast<uint8>(corner[axis] + (((i >> (3 - axis)) & 1) != 0 ? size : 0));
            inside = inside && c[axis] < box.high[axis] && c[axis] + size > box.low[axis];
        }
        if (!inside) continue;
        if (level == kLeafLevel) {
            visit(child->leaf, c);
        } else {
            VisitBox(child, level + 1, c, box, visit);
        }
    }
}

void Gather(Quantiser* q, const QuantiserBox& box, Slices* out) {
    std::memset(out, 0, sizeof(Slices));
    auto add = [out](const QuantiserLeaf& leaf, const uint8* c) {
        out->total.Add(leaf);
        for (int32 axis = 0; axis < kAxes; ++axis) out->slices[axis][c[axis]].Add(leaf);
    };
    const uint8 origin[kAxes] = {0, 0, 0, 0};
    VisitBox(q->root, 0, origin, box, add);
}

struct Cut {
    double gain;
    int32 position;
    Moments lower;
    Moments upper;
};

// The cut along one axis that keeps most of the box's squared colour length;
// the search stops once the gain starts to fall.
Cut BestCut(const Slices& s, const QuantiserBox& box, int32 axis) {
    Cut best{0.0, -1, {}, {}};
    const int32 low = box.low[axis];
    const int32 high = box.high[axis];
    // Upper parts are summed from the top so that an empty one is exactly 0.
    Moments upperFrom[kCells + 1] = {};
    for (int32 v = high - 1; v >= low; --v) {
        upperFrom[v] = upperFrom[v + 1];
        upperFrom[v].Add(s.slices[axis][v]);
    }
    Moments lower{};
    bool havePrevious = false;
    double previous = 0.0;
    for (int32 i = low; i < high; ++i) {
        if (i > low) lower.Add(s.slices[axis][i - 1]);
        const Moments& upper = upperFrom[i];
        if (!(lower.weight > 0.0 && upper.weight > 0.0)) continue;
        const double gain = lower.SumLengthSquared() / lower.weight + upper.SumLengthSquared() / upper.weight;
        if (havePrevious && gain < previous) break;
        if (gain > best.gain) best = Cut{gain, i, lower, upper};
        previous = gain;
        havePrevious = true;
    }
    return best;
}

bool ForEachPixel(const Image* image, void (*fn)(const RGBA& c, void* data), void* data) {
    if (image == nullptr || image->pixels == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    const int32 depth = image->depth;
    if (depth != 4 && depth != 8 && depth != 32) {
        ErrorRaise(kModuleNone, kErrConvertDepth);
        return false;
    }
    if (depth != 32 && image->palette == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    const uint8 mask = static_cast<uint8>(depth == 4 ? 0x0F : 0xFF);
    for (int32 y = 0; y < image->height; ++y) {
        const uint8* row = image->pixels + static_cast<std::ptrdiff_t>(y) * image->stride;
        for (int32 x = 0; x < image->width; ++x) {
            fn(depth == 32 ? reinterpret_cast<const RGBA*>(row)[x] : image->palette[row[x] & mask], data);
        }
    }
    return true;
}

// Depth first; level is that of the node's children, as in FindLeaf.
void FreeNodes(Quantiser* q, QuantiserNode* node, int32 level) {
    for (QuantiserNode* child : node->child) {
        if (child == nullptr) continue;
        if (level < kLeafLevel) {
            FreeNodes(q, child, level + 1);
        } else {
            KvFreeListFree(q->nodes, child);
        }
    }
    KvFreeListFree(q->nodes, node);
}

}  // namespace

bool QuantiserCreate(Quantiser* quantiser) {
    if (quantiser == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    Quantiser& q = *quantiser;
    q = Quantiser{};
    for (uint32 v = 0; v < kCells; ++v) {
        q.spread[v] = ((v >> 4) & 1) | ((v >> 3) & 1) << 4 | ((v >> 2) & 1) << 8 | ((v >> 1) & 1) << 12 | (v & 1) << 16;
    }
    q.boxes = static_cast<QuantiserBox*>(KvCalloc(kQuantiserMaxColors, sizeof(QuantiserBox)));
    q.variances = static_cast<float*>(KvCalloc(kQuantiserMaxColors, sizeof(float)));
    q.nodes = FreeListCreate(sizeof(QuantiserNode), kNodesPerBlock, alignof(QuantiserNode));
    if (q.boxes != nullptr && q.variances != nullptr && q.nodes != nullptr) q.root = NewNode(&q);
    if (q.root == nullptr) {
        QuantiserDestroy(&q);
        ErrorRaise(kModuleNone, kErrNoMemory);
        return false;
    }
    return true;
}

bool QuantiserAddImage(Quantiser* quantiser, const Image* image, float weight) {
    if (quantiser == nullptr || quantiser->root == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    struct Adding {
        Quantiser* q;
        float weight;
        uint32 lastKey;
        QuantiserLeaf* last;  // runs of one colour skip the descent
        bool failed;
    } adding{quantiser, weight, 0, nullptr, false};
    auto add = [](const RGBA& c, void* data) {
        auto* a = static_cast<Adding*>(data);
        const uint32 key = Key(a->q, c);
        if (a->last == nullptr || key != a->lastKey) {
            a->last = FindLeaf(a->q, key, true);
            a->lastKey = key;
            if (a->last == nullptr) {
                a->failed = true;
                return;
            }
        }
        QuantiserLeaf& leaf = *a->last;
        const double w = a->weight;
        const double r = w * (c.red * kInverse255);
        const double g = w * (c.green * kInverse255);
        const double b = w * (c.blue * kInverse255);
        const double al = w * (c.alpha * kInverse255);
        leaf.weight += w;
        leaf.sumRed += r;
        leaf.sumGreen += g;
        leaf.sumBlue += b;
        leaf.sumAlpha += al;
        // w times the squared colour: with the weighted sums above this gives
        // the weighted variance, for any weight.
        leaf.sumSquares += (r * r + g * g + b * b + al * al) / (w != 0.0 ? w : 1.0);
    };
    if (!ForEachPixel(image, add, &adding)) return false;
    if (adding.failed) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return false;
    }
    return true;
}

int32 QuantiserMakePalette(RGBA* palette, int32 count, Quantiser* quantiser) {
    if (palette == nullptr || quantiser == nullptr || quantiser->root == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return 0;
    }
    if (count < 1 || count > kQuantiserMaxColors) {
        ErrorRaise(kModuleNone, kErrOutOfRange);
        return 0;
    }
    Quantiser* q = quantiser;
    auto* slices = static_cast<Slices*>(KvMalloc(sizeof(Slices)));
    if (slices == nullptr) {
        ErrorRaise(kModuleNone, kErrNoMemory);
        return 0;
    }
    const int32 n = count < q->leafCount ? count : q->leafCount;
    q->boxes[0] = QuantiserBox{{0, 0, 0, 0}, {kCells, kCells, kCells, kCells}};
    Gather(q, q->boxes[0], slices);
    q->variances[0] = slices->total.Variance();
    int32 k = 1;
    while (k < n) {
        int32 chosen = -1;
        for (int32 i = 0; i < k; ++i) {
            if (q->variances[i] > 0.0f && (chosen < 0 || q->variances[i] > q->variances[chosen])) chosen = i;
        }
        if (chosen < 0) break;
        QuantiserBox& box = q->boxes[chosen];
        Gather(q, box, slices);
        Cut cuts[kAxes];
        int32 axis = 0;
        for (int32 a = 0; a < kAxes; ++a) {
            cuts[a] = BestCut(*slices, box, a);
            if (cuts[a].gain > cuts[axis].gain) axis = a;
        }
        if (cuts[axis].gain <= 0.0) {
            q->variances[chosen] = 0.0f;
            continue;
        }
        const Cut& cut = cuts[axis];
        q->boxes[k] = box;
        q->boxes[k].low[axis] = static_cast<uint8>(cut.position);
        box.high[axis] = static_cast<uint8>(cut.position);
        q->variances[chosen] = cut.lower.Variance();
        q->variances[k] = cut.upper.Variance();
        ++k;
    }
    KvFree(slices);

    for (int32 i = 0; i < k; ++i) {
        Moments m{};
        auto assign = [&m, i](QuantiserLeaf& leaf, const uint8*) {
            leaf.paletteIndex = static_cast<uint8>(i);
            m.Add(leaf);
        };
        const uint8 origin[kAxes] = {0, 0, 0, 0};
        VisitBox(q->root, 0, origin, q->boxes[i], assign);
        uint8 c[kAxes] = {0, 0, 0, 0};
        if (m.weight > 0.0) {
            for (int32 axis = 0; axis < kAxes; ++axis) {
                const double v = m.sum[axis] / m.weight * kToByte;
                c[axis] = static_cast<uint8>(v >= 255.0 ? 255 : (v <= 0.0 ? 0 : static_cast<int32>(v)));
            }
        }
        palette[i] = RGBA{c[0], c[1], c[2], c[3]};
    }
    for (int32 i = k; i < count; ++i) palette[i] = RGBA{0, 0, 0, 0};
    return k;
}

bool QuantiserMapImage(uint8* destination, int32 destinationStride, int32 destinationDepth, int32 packed,
                       Quantiser* quantiser, const Image* image) {
    if (destination == nullptr || quantiser == nullptr || quantiser->root == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    struct Mapping {
        Quantiser* q;
        uint8* row;
        int32 x;
        bool packed;
        uint32 lastKey;
        int32 lastIndex;  // -1: none yet
    } mapping{quantiser, destination, 0, packed != 0 && destinationDepth == 4, 0, -1};
    // Rows are walked here rather than in ForEachPixel's callback so that the
    // destination advances by its own stride.
    const Image* img = image;
    if (img == nullptr || img->pixels == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return false;
    }
    Image oneRow = *img;
    oneRow.height = 1;
    for (int32 y = 0; y < img->height; ++y) {
        oneRow.pixels = img->pixels + static_cast<std::ptrdiff_t>(y) * img->stride;
        mapping.row = destination + static_cast<std::ptrdiff_t>(y) * destinationStride;
        mapping.x = 0;
        auto map = [](const RGBA& c, void* data) {
            auto* m = static_cast<Mapping*>(data);
            const uint32 key = Key(m->q, c);
            if (m->lastIndex < 0 || key != m->lastKey) {
                const QuantiserLeaf* leaf = FindLeaf(m->q, key, false);
                m->lastIndex = leaf != nullptr ? leaf->paletteIndex : 0;
                m->lastKey = key;
            }
            const auto index = static_cast<uint8>(m->lastIndex);
            if (m->packed) {
                uint8& out = m->row[m->x >> 1];
                out = (m->x & 1) == 0 ? static_cast<uint8>(index << 4) : static_cast<uint8>(out | (index & 0x0F));
            } else {
                m->row[m->x] = index;
            }
            ++m->x;
        };
        if (!ForEachPixel(&oneRow, map, &mapping)) return false;
    }
    return true;
}

void QuantiserDestroy(Quantiser* quantiser) {
    if (quantiser == nullptr) return;
    Quantiser& q = *quantiser;
    if (q.root != nullptr) FreeNodes(&q, q.root, 0);
    if (q.nodes != nullptr) FreeListDestroy(q.nodes);
    KvFree(q.boxes);
    KvFree(q.variances);
    q = Quantiser{};
}

}  // namespace kv
