#include <gtest/gtest.h>

#include <cmath>

#include "engine/world/hardware_light.h"
#include "engine/world/light.h"
#include "engine/world/world_sector.h"
#include "world_fixture.h"

namespace kv {
namespace {

using test::ErrorLog;
using test::RecordingPipeline;
using test::TestDevice;
using test::WorldTest;

WorldSector* Root(World* w) { return reinterpret_cast<WorldSector*>(WorldGetRootSector(w)); }

TEST_F(WorldTest, PluginRegistersItsModulesAndExtensions) {
    for (uint32 id : {0x501u, 0x502u, 0x503u, 0x504u, 0x505u, 0x507u, 0x509u, 0x50Au, 0x50Bu}) {
        EXPECT_GE(EngineGetPluginOffset(id), 0) << std::hex << id;
    }
    EXPECT_GE(CameraGetPluginOffset(kIdWorldExtension), 0);
    EXPECT_GE(ClumpGetPluginOffset(kIdWorldExtension), 0);
    EXPECT_GE(AtomicGetPluginOffset(kIdWorldExtension), 0);
    EXPECT_GE(LightGetPluginOffset(kIdWorldExtension), 0);
    EXPECT_GE(LightGetPluginOffset(kIdHardwareLightPlugin), 0);
    EXPECT_GE(GeometryGetPluginOffset(0x50E), 0);
    EXPECT_GE(GeometryGetPluginOffset(0x510), 0);
    EXPECT_GE(WorldSectorGetPluginOffset(0x50E), 0);
}

TEST_F(WorldTest, NewAtomicAndClumpDefaults) {
    EngineInstanceGet()->renderFrame = 7;
    Atomic* a = AtomicCreate();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->object.object.type, kObjectTypeAtomic);
    EXPECT_EQ(AtomicGetFlags(a), 5);
    EXPECT_EQ(a->object.object.privateFlags, kAtomicWorldSphereDirty);
    EXPECT_EQ(a->renderFrame, 6);
    EXPECT_EQ(a->interpolator.flags, 3);
    EXPECT_EQ(a->interpolator.duration, 1.0f);
    EXPECT_EQ(AtomicGetWorld(a), nullptr);
    Clump* c = ClumpCreate();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->object.type, kObjectTypeClump);
    EXPECT_EQ(ClumpRender(c), c);
    EXPECT_TRUE(AtomicDestroy(a));
    EXPECT_TRUE(ClumpDestroy(c));
}

TEST_F(WorldTest, GeometryReferencesFollowAtomics) {
    Geometry* g = Triangle3();
    Atomic* a = AtomicCreate();
    AtomicSetGeometry(a, g, 0);
    EXPECT_EQ(GeometryGetRefCount(g), 2);
    // Setting the same geometry again changes nothing.
    AtomicSetGeometry(a, g, 0);
    EXPECT_EQ(GeometryGetRefCount(g), 2);
    EXPECT_EQ(AtomicGetBoundingSphere(a)->radius, GeometryGetMorphTarget(g, 0)->boundingSphere.radius);
    // The caller's sphere survives a geometry set with the keep flag.
    Sphere mine{{1, 2, 3}, 9};
    AtomicSetBoundingSphere(a, &mine);
    Geometry* g2 = Triangle3();
    AtomicSetGeometry(a, g2, kAtomicSameBoundingSphere);
    EXPECT_EQ(GeometryGetRefCount(g), 1);
    EXPECT_EQ(AtomicGetWorldBoundingSphere(a)->radius, 9.0f);
    AtomicDestroy(a);
    EXPECT_EQ(GeometryGetRefCount(g2), 1);
    GeometryDestroy(g);
    GeometryDestroy(g2);
}

TEST_F(WorldTest, ClumpMembershipAndDestroy) {
    Geometry* g = Triangle3();
    Atomic* a = nullptr;
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0}, &a);
    Atomic* b = AtomicCreate();
    ClumpAddAtomic(c, b);
    EXPECT_EQ(ClumpGetNumAtomics(c), 2);
    // Head insertion: the newest atomic comes first.
    std::vector<Atomic*> order;
    ClumpForAllAtomics(
        c,
        [](Atomic* x, void* d) -> Atomic* {
            static_cast<std::vector<Atomic*>*>(d)->push_back(x);
            return x;
        },
        &order);
    EXPECT_EQ(order, (std::vector<Atomic*>{b, a}));
    // Moving an atomic to another clump takes it out of the first.
    Clump* c2 = ClumpCreate();
    ClumpAddAtomic(c2, b);
    EXPECT_EQ(ClumpGetNumAtomics(c), 1);
    EXPECT_EQ(AtomicGetClump(b), c2);
    {
        ErrorLog log;
        EXPECT_EQ(ClumpRemoveAtomic(c, b), nullptr);
        EXPECT_TRUE(log.Has(0, kErrNullArgument));
    }
    // Destroying a clump destroys its atomics (releasing the geometry) and
    // its frames.
    EXPECT_TRUE(ClumpDestroy(c));
    EXPECT_EQ(GeometryGetRefCount(g), 1);
    EXPECT_TRUE(ClumpDestroy(c2));
    GeometryDestroy(g);
}

TEST_F(WorldTest, WorldStartsWithOneSectorCoveringItsBox) {
    const BBox box = Box(100);
    World* w = WorldCreate(&box);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->object.type, kObjectTypeWorld);
    WorldSector* s = Root(w);
    EXPECT_EQ(s->type, kSectorTypeAtomic);
    EXPECT_EQ(s->boundingBox.max.x, 100.0f);
    EXPECT_EQ(s->boundingBox.min.z, -100.0f);
    EXPECT_EQ(WorldSectorGetWorld(s), w);
    EXPECT_EQ(s->meshes, MeshesEmptyHeader());
    EXPECT_EQ(w->surfaceProps.ambient, SurfacePropertiesDefault()->ambient);
    int n = 0;
    WorldForAllWorldSectors(
        w,
        [](WorldSector* x, void* d) -> WorldSector* {
            ++*static_cast<int*>(d);
            return x;
        },
        &n);
    EXPECT_EQ(n, 1);
    EXPECT_TRUE(WorldDestroy(w));
}

TEST_F(WorldTest, AddedClumpIsTiedAtTheNextSync) {
    const BBox box = Box(100);
    World* w = WorldCreate(&box);
    Geometry* g = Triangle3();
    Atomic* a = nullptr;
    Clump* c = OneAtomicClump(g, V3d{0, 0, 5}, &a);
    FramesSyncDirty();
    ASSERT_EQ(WorldAddClump(w, c), w);
    EXPECT_EQ(AtomicGetWorld(a), w);
    EXPECT_EQ(Ties(Root(w), kSectorAtomicListFirst), 0);  // placed lazily
    FramesSyncDirty();
    EXPECT_EQ(Ties(Root(w), kSectorAtomicListFirst), 1);
    EXPECT_EQ(Ties(Root(w), kSectorAtomicListSecond), 0);
    // Moving the atomic replaces its tie instead of adding one.
    const V3d move{1, 0, 0};
    FrameTranslate(AtomicGetFrame(a), &move, CombinePostConcat);
    FramesSyncDirty();
    EXPECT_EQ(Ties(Root(w), kSectorAtomicListFirst), 1);

    // An atomic without flag 0x01 goes to the second list.
    Atomic* b = AtomicCreate();
    AtomicSetFlags(b, kAtomicFlagRender);
    Frame* fb = FrameCreate();
    FrameAddChild(ClumpGetFrame(c), fb);
    AtomicSetFrame(b, fb);
    AtomicSetGeometry(b, g, 0);
    ClumpAddAtomic(c, b);
    FramesSyncDirty();
    EXPECT_EQ(Ties(Root(w), kSectorAtomicListSecond), 1);

    // Leaving the world drops every tie.
    ASSERT_EQ(WorldRemoveClump(w, c), w);
    EXPECT_EQ(WorldGetNumClumps(w), 0);
    EXPECT_EQ(AtomicGetWorld(a), nullptr);
    EXPECT_EQ(Ties(Root(w), 0) + Ties(Root(w), 1), 0);
    EXPECT_TRUE(LinkListEmpty(&a->sectorTies));
    ClumpDestroy(c);
    GeometryDestroy(g);
    WorldDestroy(w);
}

TEST_F(WorldTest, AddingAndRemovingClumpsReportsErrors3And4) {
    const BBox box = Box(10);
    World* w = WorldCreate(&box);
    World* other = WorldCreate(&box);
    Clump* c = ClumpCreate();
    ErrorLog log;
    ASSERT_EQ(WorldAddClump(w, c), w);
    EXPECT_EQ(WorldAddClump(w, c), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrWorldClumpInWorld));
    EXPECT_EQ(WorldAddClump(other, c), nullptr);
    EXPECT_EQ(WorldGetNumClumps(w), 1);
    EXPECT_EQ(WorldGetNumClumps(other), 0);
    // Removing from the wrong world must not touch either count.
    EXPECT_EQ(WorldRemoveClump(other, c), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrWorldClumpNotInWorld));
    EXPECT_EQ(WorldGetNumClumps(other), 0);
    ASSERT_EQ(WorldRemoveClump(w, c), w);
    log.errors.clear();
    EXPECT_EQ(WorldRemoveClump(w, c), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrWorldClumpNotInWorld));
    EXPECT_EQ(WorldGetNumClumps(w), 0);
    ClumpDestroy(c);
    WorldDestroy(w);
    WorldDestroy(other);
}

TEST_F(WorldTest, DestroyingAWorldReleasesWhatIsInIt) {
    const BBox box = Box(100);
    World* w = WorldCreate(&box);
    Geometry* g = Triangle3();
    Atomic* a = nullptr;
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0}, &a);
    Camera* cam = MakeCamera(V3d{0, 0, -20});
    Light* light = LightCreate(LightPoint);
    LightSetRadius(light, 5);
    Frame* lf = FrameCreate();
    LightSetFrame(light, lf);
    WorldAddClump(w, c);
    WorldAddCamera(w, cam);
    WorldAddLight(w, light);
    FramesSyncDirty();
    ASSERT_FALSE(LinkListEmpty(&a->sectorTies));
    ASSERT_FALSE(LinkListEmpty(&light->sectorTies));
    ASSERT_GT(CameraGetNumVisibleSectors(cam), 0);
    EXPECT_TRUE(WorldDestroy(w));
    EXPECT_EQ(ClumpGetWorld(c), nullptr);
    EXPECT_EQ(AtomicGetWorld(a), nullptr);
    EXPECT_TRUE(LinkListEmpty(&a->sectorTies));
    EXPECT_EQ(CameraGetWorld(cam), nullptr);
    EXPECT_EQ(CameraGetNumVisibleSectors(cam), 0);
    EXPECT_EQ(LightGetWorld(light), nullptr);
    EXPECT_TRUE(LinkListEmpty(&light->sectorTies));
    // Later frames must not reach the freed world.
    const V3d move{0, 1, 0};
    FrameTranslate(AtomicGetFrame(a), &move, CombinePostConcat);
    FrameTranslate(lf, &move, CombinePostConcat);
    ASSERT_EQ(CameraBeginUpdate(cam), cam);
    EXPECT_EQ(WorldGetCurrent(), nullptr);
    CameraEndUpdate(cam);
    ClumpDestroy(c);
    GeometryDestroy(g);
    DestroyCamera(cam);
    LightSetFrame(light, nullptr);
    LightDestroy(light);
    FrameDestroy(lf);
}

TEST_F(WorldTest, WorldBoundingSphereIsComputedLazily) {
    Geometry* g = Triangle3();
    Atomic* a = AtomicCreate();
    AtomicSetGeometry(a, g, 0);
    const Sphere local = *AtomicGetBoundingSphere(a);
    // Without a frame the world sphere is the local one.
    EXPECT_EQ(AtomicGetWorldBoundingSphere(a)->radius, local.radius);

    Frame* f = FrameCreate();
    AtomicSetFrame(a, f);
    Matrix m;
    MatrixSetIdentity(&m);
    m.right = V3d{2, 0, 0};
    m.up = V3d{0, 3, 0};  // the largest axis scale decides the radius
    m.pos = V3d{10, 20, 30};
    MatrixUpdate(&m);
    FrameTransform(f, &m, CombineReplace);
    FramesSyncDirty();
    const Sphere* s = AtomicGetWorldBoundingSphere(a);
    EXPECT_FLOAT_EQ(s->center.x, 10 + 2 * local.center.x);
    EXPECT_FLOAT_EQ(s->center.y, 20 + 3 * local.center.y);
    EXPECT_FLOAT_EQ(s->center.z, 30 + local.center.z);
    EXPECT_FLOAT_EQ(s->radius, 3 * local.radius);

    // Not recomputed while nothing changed: a direct write to the local
    // sphere stays unseen...
    a->boundingSphere.radius = 100;
    EXPECT_FLOAT_EQ(AtomicGetWorldBoundingSphere(a)->radius, 3 * local.radius);
    // ...until the frame moves (even before the sync reaches the atomic).
    const V3d move{1, 0, 0};
    FrameTranslate(f, &move, CombinePostConcat);
    EXPECT_FLOAT_EQ(AtomicGetWorldBoundingSphere(a)->radius, 300.0f);
    EXPECT_FLOAT_EQ(AtomicGetWorldBoundingSphere(a)->center.x, 11 + 2 * local.center.x);
    FramesSyncDirty();
    EXPECT_EQ(a->object.object.privateFlags & kAtomicWorldSphereDirty, kAtomicWorldSphereDirty);
    AtomicGetWorldBoundingSphere(a);
    EXPECT_EQ(a->object.object.privateFlags & kAtomicWorldSphereDirty, 0);

    AtomicSetFrame(a, nullptr);
    AtomicDestroy(a);
    FrameDestroy(f);
    GeometryDestroy(g);
}

TEST_F(WorldTest, MorphInterpolationMovesTheLocalSphere) {
    Geometry* g = Triangle3();
    ASSERT_EQ(GeometryAddMorphTarget(g), 1);
    Sphere far{{10, 0, 0}, 5};
    MorphTargetSetBoundingSphere(GeometryGetMorphTarget(g, 1), &far);
    const Sphere near = GeometryGetMorphTarget(g, 0)->boundingSphere;
    Atomic* a = AtomicCreate();
    AtomicSetGeometry(a, g, 0);
    AtomicSetMorphTargets(a, 0, 1, 2.0f);
    AtomicSetMorphPosition(a, 1.0f);
    const Sphere* s = AtomicGetWorldBoundingSphere(a);
    EXPECT_FLOAT_EQ(s->center.x, near.center.x + 0.5f * (10 - near.center.x));
    EXPECT_FLOAT_EQ(s->radius, near.radius + 0.5f * (5 - near.radius));
    // An end target that does not exist counts as target 0.
    AtomicSetMorphTargets(a, 0, 7, 1.0f);
    AtomicSetMorphPosition(a, 1.0f);
    EXPECT_FLOAT_EQ(AtomicGetWorldBoundingSphere(a)->radius, near.radius);
    AtomicDestroy(a);
    GeometryDestroy(g);
}

class Rendering : public WorldTest {
  protected:
    void SetUp() override {
        WorldTest::SetUp();
        const BBox box = Box(100);
        world = WorldCreate(&box);
        geometry = Triangle3();
        clump = OneAtomicClump(geometry, V3d{0, 0, 0}, &atomic);
        WorldAddClump(world, clump);
        camera = MakeCamera(V3d{0, 0, -20});
        WorldAddCamera(world, camera);
        recorder.Build();
        ASSERT_EQ(AtomicSetDefaultPipeline(recorder.pipeline), recorder.pipeline);
    }
    void TearDown() override {
        AtomicSetDefaultPipeline(nullptr);
        PipelineDestroy(recorder.pipeline);
        DestroyCamera(camera);
        ClumpDestroy(clump);
        GeometryDestroy(geometry);
        WorldDestroy(world);
        WorldTest::TearDown();
    }
    World* world = nullptr;
    Geometry* geometry = nullptr;
    Clump* clump = nullptr;
    Atomic* atomic = nullptr;
    Camera* camera = nullptr;
    RecordingPipeline recorder;
};

TEST_F(Rendering, BeginUpdateMakesTheWorldCurrentAndAdvancesTheStamp) {
    const uint32 before = EngineInstanceGet()->renderFrame;
    ASSERT_EQ(CameraBeginUpdate(camera), camera);
    EXPECT_EQ(WorldGetCurrent(), world);
    EXPECT_EQ(EngineInstanceGet()->renderFrame, before + 1);
    EXPECT_EQ(TestDevice::Count(StdCameraBeginUpdate), 1);
    ASSERT_EQ(CameraEndUpdate(camera), camera);
    EXPECT_EQ(WorldGetCurrent(), nullptr);
    EXPECT_EQ(TestDevice::Count(StdCameraEndUpdate), 1);
}

TEST_F(Rendering, EachVisibleAtomicIsRenderedOncePerFrame) {
    ASSERT_EQ(CameraBeginUpdate(camera), camera);
    EXPECT_EQ(WorldRender(world), world);
    EXPECT_EQ(CameraGetNumVisibleSectors(camera), 1);
    EXPECT_EQ(recorder.Count(atomic), 1);
    EXPECT_EQ(atomic->renderFrame, static_cast<uint16>(EngineInstanceGet()->renderFrame));
    // A second render in the same frame considers nobody again.
    EXPECT_EQ(WorldRender(world), world);
    EXPECT_EQ(recorder.Count(atomic), 1);
    CameraEndUpdate(camera);
    Frame1(camera, world);
    EXPECT_EQ(recorder.Count(atomic), 2);
    // An atomic's own pipeline wins over the default.
    RecordingPipeline own;
    own.Build();
    AtomicSetPipeline(atomic, own.pipeline);
    RecordingPipeline::runs.clear();
    Frame1(camera, world);
    EXPECT_EQ(RecordingPipeline::runs.size(), 1u);
    AtomicSetPipeline(atomic, nullptr);
    PipelineDestroy(own.pipeline);
}

TEST_F(Rendering, AtomicsWithoutTheRenderFlagOrOutOfViewAreSkipped) {
    AtomicSetFlags(atomic, kAtomicFlagFirstList);
    Frame1(camera, world);
    EXPECT_EQ(recorder.Count(atomic), 0);
    AtomicSetFlags(atomic, kAtomicDefaultFlags);
    // Behind the camera: the sector is visible, the atomic is not.
    const V3d behind{0, 0, -40};
    FrameTranslate(AtomicGetFrame(atomic), &behind, CombineReplace);
    Frame1(camera, world);
    EXPECT_EQ(CameraGetNumVisibleSectors(camera), 1);
    EXPECT_EQ(recorder.Count(atomic), 0);
}

TEST_F(Rendering, ACameraThatSeesNothingDrawsNothing) {
    // A small world in front of a camera that looks the other way.
    const BBox small = Box(5);
    World* w2 = WorldCreate(&small);
    WorldRemoveClump(world, clump);
    WorldAddClump(w2, clump);
    Camera* away = MakeCamera(V3d{0, 0, -10}, true);
    WorldAddCamera(w2, away);
    Frame1(away, w2);
    EXPECT_EQ(CameraGetNumVisibleSectors(away), 0);
    EXPECT_TRUE(RecordingPipeline::runs.empty());
    // Turned round, it sees the sector and the atomic.
    const V3d up{0, 1, 0};
    FrameRotate(CameraGetFrame(away), &up, 180.0f, CombinePreConcat);
    Frame1(away, w2);
    EXPECT_EQ(CameraGetNumVisibleSectors(away), 1);
    EXPECT_EQ(recorder.Count(atomic), 1);
    DestroyCamera(away);
    WorldRemoveClump(w2, clump);
    WorldDestroy(w2);
}

TEST_F(Rendering, RenderNeedsACurrentCameraOfThisWorld) {
    ErrorLog log;
    EXPECT_EQ(WorldRender(world), nullptr);
    EXPECT_TRUE(log.Has(kModuleCore, kErrCoreNoCamera));
    // A camera of another world sees nothing of this one.
    const BBox box = Box(100);
    World* other = WorldCreate(&box);
    WorldAddCamera(other, camera);
    Frame1(camera, world);
    EXPECT_TRUE(RecordingPipeline::runs.empty());
    WorldDestroy(other);
}

TEST_F(Rendering, AFailedSectorRenderSkipsItsAtomics) {
    WorldSetSectorRenderCallBack(world, [](WorldSector*) -> WorldSector* { return nullptr; });
    Frame1(camera, world);
    EXPECT_EQ(recorder.Count(atomic), 0);
    WorldSetSectorRenderCallBack(world, nullptr);
    // The sector's own pipeline runs with the sector.
    RecordingPipeline sectorPipe;
    sectorPipe.Build();
    WorldSectorSetPipeline(Root(world), sectorPipe.pipeline);
    Frame1(camera, world);
    EXPECT_EQ(sectorPipe.Count(Root(world)), 1);
    EXPECT_EQ(recorder.Count(atomic), 1);
    // A failing sector pipeline skips the atomics; the walk goes on.
    RecordingPipeline::fail = true;
    Frame1(camera, world);
    EXPECT_EQ(recorder.Count(atomic), 1);
    RecordingPipeline::fail = false;
    WorldSectorSetPipeline(Root(world), nullptr);
    PipelineDestroy(sectorPipe.pipeline);
}

TEST_F(Rendering, SplitWorldVisitsNearSideFirstAndDrawsSharedAtomicsOnce) {
    Frame1(camera, world);
    ASSERT_EQ(CameraGetNumVisibleSectors(camera), 1);
    WorldSector* left = Root(world);
    WorldSector* right = WorldSplitSector(world, left, 0, 0.0f);
    ASSERT_NE(right, nullptr);
    EXPECT_EQ(world->numSectors, 2);
    EXPECT_EQ(left->boundingBox.max.x, 0.0f);
    EXPECT_EQ(right->boundingBox.min.x, 0.0f);
    // The atomic at the origin overlaps both halves; the camera, though it did
    // not move, sees both.
    RecordingPipeline::runs.clear();
    Frame1(camera, world);
    EXPECT_EQ(Ties(left, 0), 1);
    EXPECT_EQ(Ties(right, 0), 1);
    ASSERT_EQ(CameraGetNumVisibleSectors(camera), 2);
    EXPECT_EQ(CameraGetVisibleSector(camera, 0), left);
    EXPECT_EQ(CameraGetVisibleSector(camera, 1), right);
    EXPECT_EQ(recorder.Count(atomic), 1);
    // From the other side of the plane the right half comes first.
    const V3d move{5, 0, 0};
    FrameTranslate(CameraGetFrame(camera), &move, CombinePostConcat);
    Frame1(camera, world);
    EXPECT_EQ(CameraGetVisibleSector(camera, 0), right);
    EXPECT_EQ(recorder.Count(atomic), 2);
    // Moved wholly into the right half, it is tied there only.
    const V3d go{50, 0, 0};
    FrameTranslate(AtomicGetFrame(atomic), &go, CombineReplace);
    FramesSyncDirty();
    EXPECT_EQ(Ties(left, 0), 0);
    EXPECT_EQ(Ties(right, 0), 1);
    // A camera looking down the left half only sees that one.
    const V3d far{-60, 0, -20};
    FrameTranslate(CameraGetFrame(camera), &far, CombineReplace);
    Frame1(camera, world);
    ASSERT_EQ(CameraGetNumVisibleSectors(camera), 1);
    EXPECT_EQ(CameraGetVisibleSector(camera, 0), left);
    // A split outside the sector's box is refused.
    EXPECT_EQ(WorldSplitSector(world, left, 0, 10.0f), nullptr);
}

TEST_F(WorldTest, DefaultPipelinesComeFromTheBuilders) {
    // Builders take effect at the next start.
    static RecordingPipeline generic, platform;
    static bool failPlatform = false;
    WorldPipelinesSetBuilders(
        [](WorldPipelineSet* set) {
            set->atomic = generic.Build();
            return true;
        },
        [](WorldPipelineSet* set) {
            if (failPlatform) return false;
            set->atomic = platform.Build();
            return true;
        });
    EngineStop();
    ASSERT_TRUE(EngineStart());
    EXPECT_EQ(AtomicGetDefaultPipeline(), platform.pipeline);
    EXPECT_EQ(WorldSectorGetDefaultPipeline(), nullptr);
    RecordingPipeline mine;
    mine.Build();
    EXPECT_EQ(AtomicSetDefaultPipeline(mine.pipeline), mine.pipeline);
    // Null restores the platform pipeline.
    EXPECT_EQ(AtomicSetDefaultPipeline(nullptr), platform.pipeline);
    PipelineDestroy(mine.pipeline);
    // A failing builder fails the start and leaves nothing built behind.
    EngineStop();
    failPlatform = true;
    EXPECT_FALSE(EngineStart());
    failPlatform = false;
    WorldPipelinesSetBuilders(nullptr, nullptr);
    EngineClose();
}

TEST_F(WorldTest, ModuleCloseFreesWhatIsLeft) {
    // With one allocation per object, only the modules' own lists find them.
    test::EngineDown();
    test::EngineSetup plain = HowToStart();
    plain.initFlags = kEngineInitPlainFreeLists;
    ASSERT_TRUE(test::EngineUp(plain));
    const BBox box = Box(50);
    World* w = WorldCreate(&box);
    Geometry* g = Triangle3();
    Clump* c = OneAtomicClump(g, V3d{0, 0, 0});
    WorldAddClump(w, c);
    AtomicCreate();
    WorldAddLight(w, LightCreate(LightPoint));
    LightCreate(LightAmbient);
    Camera* cam = MakeCamera(V3d{0, 0, -20});
    WorldAddCamera(w, cam);
    FramesSyncDirty();
    GeometryDestroy(g);
    // Cameras and frames are not ours to free at close.
    DestroyCamera(cam);
    // TearDown stops the engine and checks that every byte came back.
}

// --- Lights ---------------------------------------------------------------

TEST_F(WorldTest, LocalLightsAreTiedToTheSectorsTheyReach) {
    const BBox box = Box(100);
    World* w = WorldCreate(&box);
    WorldSector* left = Root(w);
    WorldSector* right = WorldSplitSector(w, left, 0, 0.0f);
    Light* point = LightCreate(LightPoint);
    Light* sun = LightCreate(LightDirectional);
    Frame* pf = FrameCreate();
    Frame* sf = FrameCreate();
    LightSetFrame(point, pf);
    LightSetFrame(sun, sf);
    LightSetRadius(point, 5);
    LightSetRadius(sun, 1000);
    const V3d at{-10, 0, 0};
    FrameTranslate(pf, &at, CombineReplace);
    WorldAddLight(w, point);
    WorldAddLight(w, sun);
    EXPECT_EQ(LightGetWorld(point), w);
    FramesSyncDirty();
    int n = 0;
    LightForAllWorldSectors(
        point,
        [](WorldSector* s, void* d) -> WorldSector* {
            EXPECT_NE(s, nullptr);
            ++*static_cast<int*>(d);
            return s;
        },
        &n);
    EXPECT_EQ(n, 1);
    EXPECT_FALSE(LinkListEmpty(&left->lightTies));
    EXPECT_TRUE(LinkListEmpty(&right->lightTies));
    // A larger radius reaches over the plane.
    LightSetRadius(point, 20);
    FramesSyncDirty();
    EXPECT_FALSE(LinkListEmpty(&right->lightTies));
    // Global lights are never tied, whatever their radius.
    EXPECT_TRUE(LinkListEmpty(&sun->sectorTies));
    int lights = 0;
    WorldForAllLights(
        w,
        [](Light* l, void* d) -> Light* {
            ++*static_cast<int*>(d);
            return l;
        },
        &lights);
    EXPECT_EQ(lights, 2);
    ASSERT_EQ(WorldRemoveLight(w, point), w);
    EXPECT_TRUE(LinkListEmpty(&point->sectorTies));
    EXPECT_TRUE(LinkListEmpty(&left->lightTies));
    LightDestroy(sun);  // leaves the world on its own
    EXPECT_TRUE(LinkListEmpty(&w->globalLightList));
    LightSetFrame(point, nullptr);
    LightDestroy(point);
    FrameDestroy(pf);
    FrameDestroy(sf);
    WorldDestroy(w);
}

TEST_F(WorldTest, LightRecordAndConeAngle) {
    ErrorLog log;
    EXPECT_EQ(LightCreate(3), nullptr);
    EXPECT_TRUE(log.Has(0, kErrNullArgument));
    Light* l = LightCreate(LightSpot);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(LightGetType(l), LightSpot);
    EXPECT_EQ(LightGetFlags(l), kLightLightsAtomics | kLightLightsWorld);
    l->minusCosAngle = 0.0f;
    EXPECT_FLOAT_EQ(LightGetConeAngle(l), 1.5707964f);
    l->minusCosAngle = -1.0f;
    EXPECT_EQ(LightGetConeAngle(l), 0.0f);
    l->minusCosAngle = 1.0f;
    EXPECT_FLOAT_EQ(LightGetConeAngle(l), 3.1415927f);
    l->minusCosAngle = 1.5f;
    EXPECT_FLOAT_EQ(LightGetConeAngle(l), 3.1415927f);
    l->minusCosAngle = -7.0f;
    EXPECT_EQ(LightGetConeAngle(l), 0.0f);
    LightSetConeAngle(l, 0.5f);
    EXPECT_NEAR(LightGetConeAngle(l), 0.5f, 1e-6f);
    // Grey when the three channels agree.
    const RGBAReal grey{0.5f, 0.5f, 0.5f, 1};
    const RGBAReal red{1, 0, 0, 1};
    LightSetColor(l, &red);
    EXPECT_EQ(l->object.object.privateFlags & kLightPrivateGrey, 0);
    LightSetColor(l, &grey);
    EXPECT_EQ(l->object.object.privateFlags & kLightPrivateGrey, kLightPrivateGrey);
    LightDestroy(l);
}

TEST_F(WorldTest, HardwareLightExtension) {
    Light* hw = LightCreate(LightSpotExponentHW);
    Light* soft = LightCreate(LightPoint);
    EXPECT_EQ(LightGetConstantAttenuation(hw), 1.0f);
    EXPECT_EQ(LightGetLinearAttenuation(hw), 0.0f);
    EXPECT_EQ(LightGetQuadraticAttenuation(hw), 0.0f);
    EXPECT_EQ(LightGetSpotExponent(hw), 0.0f);
    EXPECT_EQ(LightGetConstantAttenuation(soft), -1.0f);
    EXPECT_EQ(LightGetSpotExponent(soft), -1.0f);
    ASSERT_EQ(LightSetAttenuation(hw, 0.5f, 0.25f, 0.125f), hw);
    ASSERT_EQ(LightSetSpotExponent(hw, 8.0f), hw);
    EXPECT_EQ(LightSetAttenuation(soft, 1, 1, 1), nullptr);
    Light* copy = LightClone(hw);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(LightGetQuadraticAttenuation(copy), 0.125f);
    EXPECT_EQ(LightGetSpotExponent(copy), 8.0f);
    Light* point = LightCreate(LightPointHW);
    EXPECT_EQ(LightGetLinearAttenuation(point), 0.0f);
    EXPECT_EQ(LightGetSpotExponent(point), -1.0f);
    ErrorLog log;
    EXPECT_EQ(LightGetConstantAttenuation(nullptr), -1.0f);
    EXPECT_TRUE(log.Has(kModuleHardwareLight, kErrNullArgument));
    LightDestroy(hw);
    LightDestroy(soft);
    LightDestroy(copy);
    LightDestroy(point);
    // Once the engine is gone the registry has forgotten the extension.
    EngineStop();
    EngineClose();
    EngineTerm();
    log.errors.clear();
    EXPECT_EQ(LightGetSpotExponent(nullptr), -1.0f);
    EXPECT_TRUE(log.Has(kModuleHardwareLight, static_cast<int32>(0x80000018u)));
}

}  // namespace
}  // namespace kv
