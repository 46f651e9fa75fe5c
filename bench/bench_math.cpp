// Matrix products and the frame synchronisation pass.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/assembly/standard_modules.h"
#include "engine/core/engine.h"
#include "engine/frame/frame.h"
#include "engine/math/matrix.h"

namespace {

using namespace kv;

// The engine on its null device, for the modules' blocks.
struct Engine {
    Engine() {
        EngineUseStandardModules();
        EngineInit(nullptr, 0);
        EngineOpenParams p{this};
        EngineOpen(&p);
        EngineStart();
    }
    ~Engine() {
        EngineStop();
        EngineClose();
        EngineTerm();
    }
};

Matrix Rotation(float degrees) {
    Matrix m;
    MatrixSetIdentity(&m);
    const V3d axis{0.3f, 1.0f, 0.2f};
    MatrixRotate(&m, &axis, degrees, CombineReplace);
    const V3d t{1.0f, 2.0f, 3.0f};
    MatrixTranslate(&m, &t, CombinePostConcat);
    return m;
}

void BM_MatrixMultiply(benchmark::State& state) {
    Engine engine;
    const Matrix a = Rotation(30.0f);
    const Matrix b = Rotation(-70.0f);
    Matrix out = a;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&a);
        benchmark::DoNotOptimize(&b);
        MatrixMultiply(&out, &a, &b);
        benchmark::DoNotOptimize(&out);
    }
}
BENCHMARK(BM_MatrixMultiply);

void BM_MatrixMultiplyIdentity(benchmark::State& state) {
    Engine engine;
    Matrix a;
    MatrixSetIdentity(&a);
    const Matrix b = Rotation(-70.0f);
    Matrix out = b;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&a);
        MatrixMultiply(&out, &a, &b);
        benchmark::DoNotOptimize(&out);
    }
}
BENCHMARK(BM_MatrixMultiplyIdentity);

// 1000 frames: a root, 9 children, 9 x 10 grandchildren and 9 x 10 x 10
// great-grandchildren (1 + 9 + 90 + 900), each with a non-identity matrix.
struct Hierarchy {
    std::vector<Frame*> frames;
    Frame* root = nullptr;
    Hierarchy() {
        root = Add(nullptr);
        for (int i = 0; i < 9; ++i) {
            Frame* a = Add(root);
            for (int j = 0; j < 10; ++j) {
                Frame* b = Add(a);
                for (int k = 0; k < 10; ++k) Add(b);
            }
        }
        FramesSyncDirty();
    }
    ~Hierarchy() { FrameDestroyHierarchy(root); }
    Frame* Add(Frame* parent) {
        Frame* f = FrameCreate();
        const V3d t{0.1f, 0.2f, 0.3f};
        FrameRotate(f, &t, static_cast<float>(frames.size()), CombineReplace);
        FrameTranslate(f, &t, CombinePostConcat);
        if (parent != nullptr) FrameAddChild(parent, f);
        frames.push_back(f);
        return f;
    }
};

// The root moves: every world matrix is recomputed.
void BM_FramesSyncDirtyAll(benchmark::State& state) {
    Engine engine;
    Hierarchy h;
    const V3d axis{0.0f, 1.0f, 0.0f};
    for (auto _ : state) {
        FrameRotate(h.root, &axis, 1.0f, CombinePostConcat);
        FramesSyncDirty();
    }
    state.counters["frames"] = static_cast<double>(h.frames.size());
}
BENCHMARK(BM_FramesSyncDirtyAll)->Unit(benchmark::kMicrosecond);

// One leaf moves: the pass walks the hierarchy and multiplies once.
void BM_FramesSyncDirtyLeaf(benchmark::State& state) {
    Engine engine;
    Hierarchy h;
    const V3d axis{0.0f, 1.0f, 0.0f};
    for (auto _ : state) {
        FrameRotate(h.frames.back(), &axis, 1.0f, CombinePostConcat);
        FramesSyncDirty();
    }
}
BENCHMARK(BM_FramesSyncDirtyLeaf)->Unit(benchmark::kMicrosecond);

}  // namespace
