#include "chunk_walk.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace kv::dump {

namespace {

constexpr std::size_t kHeader = 12;
constexpr uint32_t kVersionMin = 0x301;
constexpr uint32_t kVersionMax = 0x310;

enum : uint32_t {
    kStruct = 1,
    kString = 2,
    kExtension = 3,
    kTexture = 6,
    kMaterial = 7,
    kMaterialList = 8,
    kFrameList = 14,
    kGeometry = 15,
    kClump = 16,
    kUnicodeString = 19,
    kAtomic = 20,
    kGeometryList = 26,
    kMeshPlugin = 0x50E,
};

constexpr std::size_t kMaxShownChars = 120;

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

std::string Real(float f) { return Format("%g", static_cast<double>(f)); }

// A bounded view of one chunk body: every read is checked.
struct Body {
    const uint8_t* data;
    std::size_t size;

    bool Has(std::size_t at, std::size_t n) const { return at <= size && n <= size - at; }
    uint32_t U32(std::size_t at) const {
        return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
               static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
    }
    int32_t I32(std::size_t at) const { return static_cast<int32_t>(U32(at)); }
    float F32(std::size_t at) const {
        const uint32_t bits = U32(at);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
};

bool IsContainer(uint32_t type) {
    switch (type) {
        case kExtension:
        case kTexture:
        case kMaterial:
        case kMaterialList:
        case kFrameList:
        case kGeometry:
        case kClump:
        case kAtomic:
        case kGeometryList:
            return true;
        default:
            return false;
    }
}

void AppendShown(std::string& out, uint32_t c) {
    if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
    } else if (c < 0x100) {
        out += Format("\\x%02" PRIx32, c);
    } else {
        out += Format("\\u%04" PRIx32, c);
    }
}

class Walker {
  public:
    Walker(const uint8_t* data, std::size_t size, const WalkOptions& options, ChunkTree* tree)
        : data_(data), size_(size), options_(options), tree_(tree) {}

    void Run() {
        tree_->size = size_;
        if (size_ == 0) {
            Problem(0, "empty: no chunk at all");
            return;
        }
        Sequence(0, size_, 0, -1, false);
        CheckTopLevel();
    }

  private:
    void Problem(std::size_t offset, std::string message) { tree_->problems.push_back({offset, std::move(message)}); }

    // Walks the chunks filling [begin, end). Returns false after a problem
    // that makes the rest of the range unreadable.
    bool Sequence(std::size_t begin, std::size_t end, int depth, int parent, bool inExtension) {
        std::size_t pos = begin;
        while (pos < end) {
            const std::size_t left = end - pos;
            if (left < kHeader) {
                Problem(pos, Format("truncated chunk header: %zu byte%s left where 12 are needed%s", left,
                                    left == 1 ? "" : "s", parent < 0 ? " at the end of the file" : " in the parent"));
                return false;
            }
            const Body h{data_ + pos, kHeader};
            ChunkNode node;
            node.offset = pos;
            node.type = h.U32(0);
            node.length = h.U32(4);
            node.version = h.U32(8);
            node.depth = depth;
            node.parent = parent;
            node.plugin = inExtension;
            if (depth >= options_.maxDepth) {
                Problem(pos, Format("chunks nested deeper than %d levels", options_.maxDepth));
                return false;
            }
            if (node.version < kVersionMin || node.version > kVersionMax) {
                Problem(pos, Format("chunk version 0x%" PRIx32 " is outside 0x301..0x310", node.version));
                return false;
            }
            if (node.length > left - kHeader) {
                if (parent < 0) {
                    Problem(pos, Format("chunk length %" PRIu32 " runs past the end of the file (%zu bytes left)",
                                        node.length, left - kHeader));
                } else {
                    Problem(pos, Format("chunk length %" PRIu32 " is longer than its parent allows (%zu bytes left)",
                                        node.length, left - kHeader));
                }
                return false;
            }
            const int index = static_cast<int>(tree_->nodes.size());
            tree_->nodes.push_back(std::move(node));
            const uint32_t type = tree_->nodes.back().type, length = tree_->nodes.back().length;
            const std::size_t body = pos + kHeader;
            if (!inExtension && IsContainer(type)) {
                if (Sequence(body, body + length, depth + 1, index, type == kExtension)) CheckContainer(index);
            } else {
                Summarise(index, Body{data_ + body, length}, parent < 0 ? 0 : tree_->nodes[parent].type);
            }
            pos = body + length;
        }
        return true;
    }

    // Counts that a container's struct announces against the chunks it holds.
    void CheckContainer(int index) {
        const ChunkNode& c = tree_->nodes[index];
        const std::vector<int> kids = tree_->Children(index);
        auto count = [&](uint32_t type) {
            std::size_t k = 0;
            for (int i : kids) k += tree_->nodes[i].type == type ? 1 : 0;
            return k;
        };
        if (c.type == kClump) ClumpParts(index);
        if (c.type == kGeometry) GeometryMeshes(index);
        const int s = tree_->FindChild(index, kStruct);
        if (s < 0) return;
        const ChunkNode& st = tree_->nodes[s];
        const Body b{data_ + st.BodyOffset(), st.length};
        if (!b.Has(0, 4)) return;
        const int32_t announced = b.I32(0);
        auto expect = [&](uint32_t type, int64_t want, const char* what) {
            if (want >= 0 && static_cast<int64_t>(count(type)) != want) {
                Problem(c.offset, Format("%s announces %" PRId64 " %s but holds %zu", ChunkTypeName(c.type), want, what,
                                         count(type)));
            }
        };
        switch (c.type) {
            case kClump:
                expect(kAtomic, announced, "atomics");
                break;
            case kGeometryList:
                expect(kGeometry, announced, "geometries");
                break;
            case kFrameList:
                expect(kExtension, announced, "frame extensions");
                break;
            case kMaterialList: {
                int64_t fresh = 0;
                for (int64_t i = 0; i < announced && b.Has(4 + 4 * static_cast<std::size_t>(i), 4); ++i) {
                    fresh += b.I32(4 + 4 * static_cast<std::size_t>(i)) == -1 ? 1 : 0;
                }
                expect(kMaterial, fresh, "new materials");
                break;
            }
            default:
                break;
        }
    }

    // Chunks that only mean something inside an object, and types nothing
    // reads, are refused at the top of a file.
    void CheckTopLevel() {
        for (int i : tree_->Children(-1)) {
            const ChunkNode& n = tree_->nodes[static_cast<std::size_t>(i)];
            const char* name = ChunkTypeName(n.type);
            if (name == nullptr) {
                Problem(n.offset, Format("unknown chunk type 0x%" PRIx32 " at the top of the file", n.type));
            } else if (n.type == kStruct || n.type == kExtension) {
                Problem(n.offset, Format("loose %s chunk at the top of the file: it belongs inside an object", name));
            }
        }
    }

    // The first word of a container's struct, when it has one.
    bool StructWord(int container, int32_t* value, std::size_t* length = nullptr) const {
        const int s = container < 0 ? -1 : tree_->FindChild(container, kStruct);
        if (s < 0) return false;
        const ChunkNode& st = tree_->nodes[static_cast<std::size_t>(s)];
        if (length != nullptr) *length = st.length;
        if (st.length < 4) return false;
        *value = Body{data_ + st.BodyOffset(), st.length}.I32(0);
        return true;
    }

    // A clump holds its struct, frame list and geometry list, and its atomics
    // name frames and geometries that are there.
    void ClumpParts(int index) {
        const ChunkNode& c = tree_->nodes[static_cast<std::size_t>(index)];
        const int frames = tree_->FindChild(index, kFrameList);
        const int geometries = tree_->FindChild(index, kGeometryList);
        std::string missing;
        if (tree_->FindChild(index, kStruct) < 0) missing += "Struct";
        if (frames < 0) missing += std::string(missing.empty() ? "" : ", ") + "FrameList";
        if (geometries < 0) missing += std::string(missing.empty() ? "" : ", ") + "GeometryList";
        if (!missing.empty()) Problem(c.offset, "Clump lacks its " + missing);

        // Only the frame records really present count.
        int64_t frameCount = -1;
        int32_t announced = 0;
        std::size_t structLength = 0;
        if (StructWord(frames, &announced, &structLength)) {
            frameCount = std::min<int64_t>(announced, static_cast<int64_t>((structLength - 4) / 56));
        }
        const int64_t geometryCount = geometries < 0 ? -1 : static_cast<int64_t>(CountChildren(geometries, kGeometry));
        for (int a : tree_->Children(index)) {
            if (tree_->nodes[static_cast<std::size_t>(a)].type != kAtomic) continue;
            const int s = tree_->FindChild(a, kStruct);
            if (s < 0) continue;
            const ChunkNode& st = tree_->nodes[static_cast<std::size_t>(s)];
            const Body b{data_ + st.BodyOffset(), st.length};
            if (!b.Has(0, 8)) continue;
            const int32_t frame = b.I32(0), geometry = b.I32(4);
            if (frameCount >= 0 && (frame < 0 || frame >= frameCount)) {
                Problem(st.offset,
                        Format("Atomic names frame %" PRId32 ", but the clump's frame list holds %" PRId64 " frame%s",
                               frame, frameCount, frameCount == 1 ? "" : "s"));
            }
            if (geometryCount >= 0 && (geometry < 0 || geometry >= geometryCount) &&
                tree_->FindChild(a, kGeometry) < 0) {
                Problem(st.offset, Format("Atomic names geometry %" PRId32
                                          ", but the clump's geometry list holds %" PRId64 " geometr%s",
                                          geometry, geometryCount, geometryCount == 1 ? "y" : "ies"));
            }
        }
    }

    std::size_t CountChildren(int parent, uint32_t type) const {
        std::size_t k = 0;
        for (int i : tree_->Children(parent)) k += tree_->nodes[static_cast<std::size_t>(i)].type == type ? 1 : 0;
        return k;
    }

    // The meshes of a geometry use its vertices and the slots of its
    // material list, as the engine's mesh reader demands.
    void GeometryMeshes(int index) {
        const int ext = tree_->FindChild(index, kExtension);
        const int mesh = ext < 0 ? -1 : tree_->FindChild(ext, kMeshPlugin);
        const int st = tree_->FindChild(index, kStruct);
        if (mesh < 0 || st < 0) return;
        const ChunkNode& gs = tree_->nodes[static_cast<std::size_t>(st)];
        const Body g{data_ + gs.BodyOffset(), gs.length};
        if (!g.Has(0, 12) || g.I32(8) < 0) return;
        const auto vertices = static_cast<uint32_t>(g.I32(8));
        int32_t slots = 0;  // no material list: no slot at all
        const int list = tree_->FindChild(index, kMaterialList);
        if (list >= 0 && (!StructWord(list, &slots) || slots < 0)) return;

        const ChunkNode& m = tree_->nodes[static_cast<std::size_t>(mesh)];
        const Body b{data_ + m.BodyOffset(), m.length};
        if (!b.Has(0, 12) || b.I32(4) < 0) return;
        const int32_t meshes = b.I32(4);
        std::size_t at = 12;
        for (int32_t k = 0; k < meshes && b.Has(at, 8); ++k) {
            const uint32_t count = b.U32(at);
            const int32_t slot = b.I32(at + 4);
            at += 8;
            if (slot < -1 || slot >= slots) {
                Problem(m.offset, Format("mesh %" PRId32 " names material slot %" PRId32
                                         ", but the geometry's material list has %" PRId32 " slot%s",
                                         k, slot, slots, slots == 1 ? "" : "s"));
            }
            std::size_t bad = 0;
            uint32_t first = 0, firstAt = 0;
            for (uint32_t i = 0; i < count && b.Has(at, 4); ++i, at += 4) {
                const uint32_t v = b.U32(at);
                if (v >= vertices && bad++ == 0) {
                    first = v;
                    firstAt = i;
                }
            }
            if (bad > 0) {
                Problem(m.offset, Format("mesh %" PRId32 " uses vertex %" PRIu32 " (index %" PRIu32
                                         ")%s, but the geometry has %" PRIu32 " vertices",
                                         k, first, firstAt,
                                         bad > 1 ? Format(" and %zu more beyond", bad - 1).c_str() : "", vertices));
            }
            if (!b.Has(at, 0)) break;
        }
    }

    void Details(int index, std::vector<std::string> lines) { tree_->nodes[index].details = std::move(lines); }

    void Summarise(int index, const Body& b, uint32_t parentType) {
        ChunkNode& n = tree_->nodes[index];
        if (n.plugin) {
            if (n.type == kMeshPlugin && parentType == kExtension) MeshSummary(index, b);
            return;
        }
        switch (n.type) {
            case kString:
                StringSummary(index, b, false);
                break;
            case kUnicodeString:
                StringSummary(index, b, true);
                break;
            case kStruct:
                StructSummary(index, b);
                break;
            default:
                break;
        }
    }

    void StringSummary(int index, const Body& b, bool wide) {
        const std::size_t step = wide ? 2 : 1;
        std::string text, shown;
        bool terminated = false;
        for (std::size_t i = 0; i + step <= b.size; i += step) {
            const uint32_t c = wide ? (b.data[i] | static_cast<uint32_t>(b.data[i + 1]) << 8) : b.data[i];
            if (c == 0) {
                terminated = true;
                break;
            }
            text += static_cast<char>(c & 0xFF);
            if (text.size() <= kMaxShownChars) AppendShown(shown, c);
        }
        ChunkNode& n = tree_->nodes[index];
        n.summary = "\"" + shown + (text.size() > kMaxShownChars ? "\"..." : "\"");
        n.text = std::move(text);
        if (!terminated) Problem(n.offset, "string has no terminating zero");
    }

    void StructSummary(int index, const Body& b) {
        ChunkNode& n = tree_->nodes[index];
        const uint32_t parentType = n.parent < 0 ? 0 : tree_->nodes[n.parent].type;
        std::size_t want = 0;  // the size the fields imply; 0: not checked
        switch (parentType) {
            case kClump:
                if (b.Has(0, 4)) n.summary = Format("atomics %" PRId32, b.I32(0));
                want = 4;
                break;
            case kGeometryList:
                if (b.Has(0, 4)) n.summary = Format("geometries %" PRId32, b.I32(0));
                want = 4;
                break;
            case kAtomic:
                if (b.Has(0, 16)) {
                    n.summary = Format("frame %" PRId32 ", geometry %" PRId32 ", flags 0x%" PRIx32, b.I32(0), b.I32(4),
                                       b.U32(8));
                }
                want = 16;
                break;
            case kFrameList:
                want = FrameListStruct(index, b);
                break;
            case kGeometry:
                want = GeometryStruct(index, b);
                break;
            case kMaterialList:
                want = MaterialListStruct(index, b);
                break;
            case kMaterial:
                if (b.Has(0, 28)) {
                    n.summary = Format("colour (%u, %u, %u, %u), %s, ambient %s, specular %s, diffuse %s", b.data[4],
                                       b.data[5], b.data[6], b.data[7], b.I32(12) != 0 ? "textured" : "untextured",
                                       Real(b.F32(16)).c_str(), Real(b.F32(20)).c_str(), Real(b.F32(24)).c_str());
                }
                want = 28;
                break;
            case kTexture:
                if (b.Has(0, 4)) {
                    const uint32_t w = b.U32(0);
                    n.summary = Format("filter %" PRIu32 ", address u %" PRIu32 ", bits 12-15 0x%" PRIx32 "%s",
                                       w & 0xFF, (w >> 8) & 0xF, (w >> 12) & 0xF,
                                       (w & 0x10000) != 0 ? ", raster without auto-mipmap" : "");
                }
                want = 4;
                break;
            default:
                n.summary = Format("%" PRIu32 " bytes", n.length);
                return;
        }
        if (want != 0 && want != b.size) {
            Problem(n.offset, Format("struct of %s is %zu bytes where its fields need %zu", ChunkTypeName(parentType),
                                     b.size, want));
        }
    }

    std::size_t FrameListStruct(int index, const Body& b) {
        ChunkNode& n = tree_->nodes[index];
        if (!b.Has(0, 4)) return 4;
        const int32_t count = b.I32(0);
        n.summary = Format("frames %" PRId32, count);
        if (count < 0) {
            Problem(n.offset, Format("negative frame count %" PRId32, count));
            return 0;
        }
        std::vector<std::string> lines;
        for (int32_t i = 0; i < count; ++i) {
            const std::size_t at = 4 + 56 * static_cast<std::size_t>(i);
            if (!b.Has(at, 56)) break;
            const int32_t parent = b.I32(at + 48);
            lines.push_back(Format("frame %" PRId32 ": parent %" PRId32 ", flags 0x%08" PRIx32 ", pos (%s, %s, %s)", i,
                                   parent, b.U32(at + 52), Real(b.F32(at + 36)).c_str(), Real(b.F32(at + 40)).c_str(),
                                   Real(b.F32(at + 44)).c_str()));
            // Parents come before their children in the list.
            if (parent < -1 || parent >= i) {
                Problem(n.offset,
                        Format("frame %" PRId32 " names parent %" PRId32 ", not an earlier frame", i, parent));
            }
        }
        Details(index, std::move(lines));
        return 4 + 56 * static_cast<std::size_t>(count);
    }

    std::size_t GeometryStruct(int index, const Body& b) {
        ChunkNode& n = tree_->nodes[index];
        if (!b.Has(0, 28)) return 28;
        const uint32_t flags = b.U32(0);
        const int32_t tris = b.I32(4), verts = b.I32(8), morphs = b.I32(12);
        n.summary = Format("flags 0x%02" PRIx32 ", triangles %" PRId32 ", vertices %" PRId32 ", morph targets %" PRId32,
                           flags, tris, verts, morphs);
        if (tris < 0 || verts < 0 || morphs < 0) {
            Problem(n.offset, "geometry with a negative count");
            return 0;
        }
        std::vector<std::string> lines;
        std::string kinds;
        static const struct {
            uint32_t bit;
            const char* name;
        } kFlags[] = {{0x01, "strips"}, {0x04, "texcoords"}, {0x08, "prelit"},         {0x10, "normals"},
                      {0x20, "lit"},    {0x40, "modulate"},  {0x80, "2 texcoord sets"}};
        for (const auto& f : kFlags) {
            if ((flags & f.bit) != 0) kinds += std::string(kinds.empty() ? "" : ", ") + f.name;
        }
        if (!kinds.empty()) lines.push_back("format: " + kinds);
        lines.push_back(Format("surface: ambient %s, specular %s, diffuse %s", Real(b.F32(16)).c_str(),
                               Real(b.F32(20)).c_str(), Real(b.F32(24)).c_str()));
        const auto nv = static_cast<uint64_t>(verts);
        uint64_t at = 28;
        if (nv > 0) {
            if ((flags & 0x08) != 0) at += 4 * nv;
            if ((flags & 0x04) != 0) {
                at += 8 * nv;
            } else if ((flags & 0x80) != 0) {
                at += 16 * nv;
            }
            at += 8 * static_cast<uint64_t>(tris);
        }
        for (int32_t m = 0; m < morphs; ++m) {
            if (at > b.size || !b.Has(static_cast<std::size_t>(at), 24)) {
                Problem(n.offset, Format("geometry struct ends inside morph target %" PRId32, m));
                Details(index, std::move(lines));
                return 0;
            }
            const auto p = static_cast<std::size_t>(at);
            const bool positions = b.I32(p + 16) != 0, normals = b.I32(p + 20) != 0;
            lines.push_back(Format("morph target %" PRId32 ": sphere (%s, %s, %s) radius %s%s%s", m,
                                   Real(b.F32(p)).c_str(), Real(b.F32(p + 4)).c_str(), Real(b.F32(p + 8)).c_str(),
                                   Real(b.F32(p + 12)).c_str(), positions ? ", positions" : "",
                                   normals ? ", normals" : ""));
            at += 24 + (positions ? 12 * nv : 0) + (normals ? 12 * nv : 0);
        }
        Details(index, std::move(lines));
        // Sizes beyond what a 32-bit length can hold cannot match.
        return at > 0xFFFFFFFFu ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(at);
    }

    std::size_t MaterialListStruct(int index, const Body& b) {
        ChunkNode& n = tree_->nodes[index];
        if (!b.Has(0, 4)) return 4;
        const int32_t slots = b.I32(0);
        n.summary = Format("slots %" PRId32, slots);
        if (slots < 0) {
            Problem(n.offset, Format("negative slot count %" PRId32, slots));
            return 0;
        }
        std::vector<std::string> lines;
        for (int32_t i = 0; i < slots && b.Has(4 + 4 * static_cast<std::size_t>(i), 4); ++i) {
            const int32_t ref = b.I32(4 + 4 * static_cast<std::size_t>(i));
            if (ref == -1) {
                lines.push_back(Format("slot %" PRId32 ": new material", i));
            } else {
                lines.push_back(Format("slot %" PRId32 ": same as slot %" PRId32, i, ref));
                if (ref < 0 || ref >= i) Problem(n.offset, Format("slot %" PRId32 " refers to slot %" PRId32, i, ref));
            }
        }
        Details(index, std::move(lines));
        return 4 + 4 * static_cast<std::size_t>(slots);
    }

    void MeshSummary(int index, const Body& b) {
        ChunkNode& n = tree_->nodes[index];
        if (!b.Has(0, 12)) {
            Problem(n.offset, "mesh extension shorter than its 12-byte header");
            return;
        }
        const uint32_t flags = b.U32(0);
        const int32_t meshes = b.I32(4), total = b.I32(8);
        n.summary = Format("%s, meshes %" PRId32 ", indices %" PRId32,
                           (flags & 1) != 0 ? "triangle strips" : "triangle lists", meshes, total);
        if (meshes < 0 || total < 0) {
            Problem(n.offset, "mesh extension with a negative count");
            return;
        }
        std::vector<std::string> lines;
        uint64_t at = 12, sum = 0;
        for (int32_t m = 0; m < meshes; ++m) {
            if (!b.Has(static_cast<std::size_t>(at), 8)) {
                Problem(n.offset, Format("mesh extension ends inside mesh %" PRId32, m));
                Details(index, std::move(lines));
                return;
            }
            const auto p = static_cast<std::size_t>(at);
            const uint32_t count = b.U32(p);
            lines.push_back(Format("mesh %" PRId32 ": indices %" PRIu32 ", material %" PRId32, m, count, b.I32(p + 4)));
            sum += count;
            at += 8 + 4 * static_cast<uint64_t>(count);
        }
        Details(index, std::move(lines));
        if (sum != static_cast<uint64_t>(total)) {
            Problem(n.offset, Format("meshes hold %" PRIu64 " indices where the header says %" PRId32, sum, total));
        } else if (at != b.size) {
            Problem(n.offset, Format("mesh extension is %zu bytes where its meshes need %" PRIu64, b.size, at));
        }
    }

    const uint8_t* data_;
    std::size_t size_;
    WalkOptions options_;
    ChunkTree* tree_;
};

}  // namespace

std::vector<int> ChunkTree::Children(int parent) const {
    std::vector<int> out;
    // Nodes are in file order, so a subtree is the run of deeper nodes after it.
    const int depth = parent < 0 ? -1 : nodes[static_cast<std::size_t>(parent)].depth;
    for (std::size_t i = parent < 0 ? 0 : static_cast<std::size_t>(parent) + 1; i < nodes.size(); ++i) {
        if (nodes[i].depth <= depth) break;
        if (nodes[i].parent == parent) out.push_back(static_cast<int>(i));
    }
    return out;
}

int ChunkTree::FindChild(int parent, uint32_t type, int nth) const {
    for (int i : Children(parent)) {
        if (nodes[static_cast<std::size_t>(i)].type == type && nth-- == 0) return i;
    }
    return -1;
}

ChunkTree ChunkWalk(const uint8_t* data, std::size_t size, const WalkOptions& options) {
    ChunkTree tree;
    if (data == nullptr) size = 0;
    Walker(data, size, options, &tree).Run();
    return tree;
}

const char* ChunkTypeName(uint32_t type) {
    switch (type) {
        case kStruct:
            return "Struct";
        case kString:
            return "String";
        case kExtension:
            return "Extension";
        case kTexture:
            return "Texture";
        case kMaterial:
            return "Material";
        case kMaterialList:
            return "MaterialList";
        case kFrameList:
            return "FrameList";
        case kGeometry:
            return "Geometry";
        case kClump:
            return "Clump";
        case kUnicodeString:
            return "UnicodeString";
        case kAtomic:
            return "Atomic";
        case kGeometryList:
            return "GeometryList";
        default:
            return nullptr;
    }
}

const char* PluginName(uint32_t id) { return id == kMeshPlugin ? "MeshExtension" : nullptr; }

void ChunkTreePrint(std::ostream& out, const ChunkTree& tree, const PrintOptions& options) {
    for (const ChunkNode& n : tree.nodes) {
        std::string line = Format("%08zx  ", n.offset);
        line.append(2 * static_cast<std::size_t>(n.depth), ' ');
        const char* name = n.plugin ? PluginName(n.type) : ChunkTypeName(n.type);
        if (n.plugin) {
            line += Format("plugin 0x%" PRIx32, n.type);
            if (name != nullptr) line += Format(" %s", name);
        } else if (name != nullptr) {
            line += Format("%s (%" PRIu32 ")", name, n.type);
        } else {
            line += Format("chunk 0x%" PRIx32, n.type);
        }
        line += Format("  length %" PRIu32 "  version 0x%" PRIx32, n.length, n.version);
        if (!n.summary.empty()) line += ": " + n.summary;
        out << line << '\n';
        if (!options.details) continue;
        const std::string indent(10 + 2 * static_cast<std::size_t>(n.depth) + 4, ' ');
        for (std::size_t i = 0; i < n.details.size(); ++i) {
            if (i == options.maxDetails) {
                out << indent << "... " << (n.details.size() - i) << " more\n";
                break;
            }
            out << indent << n.details[i] << '\n';
        }
    }
}

void ChunkProblemsPrint(std::ostream& out, const ChunkTree& tree, const std::string& name) {
    for (const ChunkProblem& p : tree.problems) {
        out << name << Format(": offset 0x%zx (%zu): ", p.offset, p.offset) << p.message << '\n';
    }
}

}  // namespace kv::dump
