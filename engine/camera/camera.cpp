#include "camera.h"

#include <cmath>
#include <cstring>

#include "engine/core/engine.h"
#include "engine/core/error.h"
#include "engine/core/memory.h"
#include "engine/core/module_slot.h"
#include "engine/image/raster.h"
#include "engine/image/screen_view.h"

namespace kv {

namespace {

constexpr int32 kCamerasPerBlock = 4;

PluginRegistry cameraRegistry = PluginRegistryMake(sizeof(Camera));
ModuleSlot<CameraModule> slot;

CameraModule* Module() { return slot.Get(); }

// zScale * e + zShift lands on the device's near depth and zScale * c +
// zShift on its far depth, each pulled in by 0.01 % of the range.
void UpdateDepthMapping(Camera* c) {
    const real a = EngineGetZNear();
    const real b = EngineGetZFar();
    const real g = (b - a) * 0.0001f;
    const real a1 = a + g;
    const real b1 = b - g;
    real e = c->nearPlane;
    real f = c->farPlane;
    if (c->projection != ProjectionParallel) {
        e = 1.0f / e;
        f = 1.0f / f;
    }
    // Equal or zero planes give no mapping; the last good one is kept rather
    // than filling the depth values with infinities.
    const real span = f - e;
    if (span == 0.0f || !std::isfinite(span)) return;
    c->zScale = (b1 - a1) / span;
    c->zShift = (a1 + b1 - c->zScale * (e + f)) * 0.5f;
}

void MarkFrame(Camera* c) {
    if (Frame* f = CameraGetFrame(c)) FrameUpdateObjects(f);
}

V3d Centroid(const V3d* p, int32 n) {
    V3d s{0, 0, 0};
    for (int32 i = 0; i < n; ++i) s = V3dAdd(s, p[i]);
    return V3dScale(s, 1.0f / static_cast<real>(n));
}

void SetClosest(FrustumPlane* p) {
    p->closestX = std::signbit(p->normal.x) ? 0 : 1;
    p->closestY = std::signbit(p->normal.y) ? 0 : 1;
    p->closestZ = std::signbit(p->normal.z) ? 0 : 1;
}

void SetPlane(FrustumPlane* p, const V3d& normal, const V3d& point) {
    p->normal = normal;
    p->distance = V3dDotProduct(normal, point);
    p->pad = 0;
    SetClosest(p);
}

// The plane through three corners, its normal turned away from the inside.
V3d SideNormal(const V3d& p0, const V3d& p1, const V3d& p2, const V3d& inside) {
    V3d n = V3dCrossProduct(V3dSub(p1, p0), V3dSub(p2, p0));
    const real len2 = V3dDotProduct(n, n);
    if (len2 > 0.0f) n = V3dScale(n, InvSqrtFast(len2));
    if (V3dDotProduct(n, V3dSub(inside, p0)) > 0.0f) n = V3dNegate(n);
    return n;
}

// One column of the view matrix: A * c + axis * s.
void SetColumn(Matrix* m, int col, const V3d& A, const V3d& axis, real c, real s) {
    real* right = &m->right.x;
    real* up = &m->up.x;
    real* at = &m->at.x;
    right[col] = A.x * c + axis.x * s;
    up[col] = A.y * c + axis.y * s;
    at[col] = A.z * c + axis.z * s;
}

real ColumnDot(const Matrix* m, int col, const V3d& p) {
    return (&m->right.x)[col] * p.x + (&m->up.x)[col] * p.y + (&m->at.x)[col] * p.z;
}

void BuildViewMatrix(Camera* c, const Matrix* world, bool perspective) {
    const V3d& R = world->right;
    const V3d& U = world->up;
    const V3d& A = world->at;
    const V3d& P = world->pos;
    const real ox = c->viewOffset.x;
    const real oy = c->viewOffset.y;
    const real sx = -0.5f * c->recipViewWindow.x;
    const real sy = -0.5f * c->recipViewWindow.y;
    const real cx = perspective ? 0.5f - ox * sx : -ox * sx;
    const real cy = perspective ? 0.5f + oy * sy : oy * sy;
    Matrix* m = &c->viewMatrix;
    SetColumn(m, 0, A, R, cx, sx);
    SetColumn(m, 1, A, U, cy, sy);
    m->right.z = A.x;
    m->up.z = A.y;
    m->at.z = A.z;
    m->pos.x = 0.5f - (cx + ColumnDot(m, 0, P));
    m->pos.y = 0.5f - (cy + ColumnDot(m, 1, P));
    m->pos.z = -V3dDotProduct(A, P);
    MatrixUpdate(m);
}

void BuildPerspectiveVolume(Camera* c, const Matrix* world) {
    const V3d& R = world->right;
    const V3d& U = world->up;
    const V3d& A = world->at;
    const V3d& P = world->pos;
    const real wx = c->viewWindow.x;
    const real wy = c->viewWindow.y;
    V3d d[4];
    d[0] = V3dAdd(V3dAdd(A, V3dScale(R, wx)), V3dScale(U, wy));
    d[1] = V3dSub(d[0], V3dScale(R, 2.0f * wx));
    d[2] = V3dSub(d[1], V3dScale(U, 2.0f * wy));
    d[3] = V3dAdd(d[2], V3dScale(R, 2.0f * wx));
    const V3d o = V3dSub(V3dScale(U, c->viewOffset.y), V3dScale(R, c->viewOffset.x));
    const V3d eye = V3dAdd(P, o);
    for (int i = 0; i < 4; ++i) {
        const V3d dir = V3dSub(d[i], o);
        c->frustumCorners[i] = V3dAdd(eye, V3dScale(dir, c->nearPlane));
        c->frustumCorners[i + 4] = V3dAdd(eye, V3dScale(dir, c->farPlane));
    }
    const V3d* k = c->frustumCorners;
    const V3d inside = Centroid(k, 8);
    FrustumPlane* p = c->frustumPlanes;
    SetPlane(&p[0], A, k[4]);
    SetPlane(&p[1], V3dNegate(A), k[0]);
    SetPlane(&p[2], SideNormal(k[1], k[5], k[6], inside), k[1]);
    SetPlane(&p[3], SideNormal(k[1], k[5], k[4], inside), k[1]);
    SetPlane(&p[4], SideNormal(k[3], k[7], k[4], inside), k[3]);
    SetPlane(&p[5], SideNormal(k[3], k[6], k[7], inside), k[3]);
}

void BuildParallelVolume(Camera* c, const Matrix* world) {
    const real wx = c->viewWindow.x;
    const real wy = c->viewWindow.y;
    const real ox = c->viewOffset.x;
    const real oy = c->viewOffset.y;
    V3d local[8];
    for (int i = 0; i < 8; ++i) {
        const int corner = i & 3;
        const real z = i < 4 ? c->nearPlane : c->farPlane;
        const real sxSign = (corner == 0 || corner == 3) ? 1.0f : -1.0f;
        const real sySign = (corner == 0 || corner == 1) ? 1.0f : -1.0f;
        local[i] = V3d{sxSign * wx - ox * (1.0f - z), sySign * wy + oy * (1.0f - z), z};
    }
    V3dTransformPoints(c->frustumCorners, local, 8, world);
    const V3d* k = c->frustumCorners;
    const V3d& A = world->at;
    const V3d inside = Centroid(k, 8);
    FrustumPlane* p = c->frustumPlanes;
    SetPlane(&p[0], A, k[4]);
    SetPlane(&p[1], V3dNegate(A), k[0]);
    const V3d n2 = SideNormal(k[1], k[5], k[6], inside);
    const V3d n3 = SideNormal(k[1], k[5], k[4], inside);
    SetPlane(&p[2], n2, k[1]);
    SetPlane(&p[3], n3, k[1]);
    // Opposite faces of a parallel volume are parallel.
    SetPlane(&p[4], V3dNegate(n2), k[3]);
    SetPlane(&p[5], V3dNegate(n3), k[3]);
}

ObjectWithFrame* CameraSync(ObjectWithFrame* object) {
    auto* c = reinterpret_cast<Camera*>(object);
    Frame* frame = CameraGetFrame(c);
    if (frame == nullptr) return object;
    const Matrix* world = FrameGetWorldMatrix(frame);
    const bool perspective = c->projection != ProjectionParallel;
    BuildViewMatrix(c, world, perspective);
    if (perspective) {
        BuildPerspectiveVolume(c, world);
    } else {
        BuildParallelVolume(c, world);
    }
    BBoxCalculate(&c->frustumBox, c->frustumCorners, 8);
    return object;
}

// What 2D drawing in the layers below needs of the camera being drawn.
bool CurrentCameraView(ScreenView* view) {
    const EngineInstance* instance = EngineInstanceGet();
    const auto* c = instance != nullptr ? static_cast<const Camera*>(instance->curCamera) : nullptr;
    if (c == nullptr || c->frameBuffer == nullptr) return false;
    view->width = c->frameBuffer->width;
    view->height = c->frameBuffer->height;
    view->nearPlane = c->nearPlane;
    return true;
}

Camera* DefaultBeginUpdate(Camera* camera) {
    EngineInstanceGet()->curCamera = camera;
    FramesSyncDirty();
    if (!StandardCall(StdCameraBeginUpdate, nullptr, camera, 0)) return nullptr;
    return camera;
}

Camera* DefaultEndUpdate(Camera* camera) {
    if (!StandardCall(StdCameraEndUpdate, nullptr, camera, 0)) return nullptr;
    EngineInstanceGet()->curCamera = nullptr;
    return camera;
}

}  // namespace

Camera* CameraCreate() {
    CameraModule* m = Module();
    if (m == nullptr) {
        ErrorRaise(kModuleNone, kErrEngineState);
        return nullptr;
    }
    auto* c = static_cast<Camera*>(KvFreeListAlloc(m->cameraFreeList));
    if (c == nullptr) return nullptr;
    std::memset(static_cast<void*>(c), 0, sizeof(Camera));
    ObjectInitialize(&c->object.object, kObjectTypeCamera, 0);
    c->object.frameLink.next = &c->object.frameLink;
    c->object.frameLink.prev = &c->object.frameLink;
    c->object.syncCallback = CameraSync;
    c->projection = ProjectionPerspective;
    c->beginUpdate = DefaultBeginUpdate;
    c->endUpdate = DefaultEndUpdate;
    MatrixSetIdentity(&c->viewMatrix);
    c->viewWindow = V2d{1.0f, 1.0f};
    c->recipViewWindow = V2d{1.0f, 1.0f};
    c->viewOffset = V2d{0.0f, 0.0f};
    c->nearPlane = 0.05f;
    c->farPlane = 10.0f;
    c->fogPlane = 5.0f;
    UpdateDepthMapping(c);
    if (RegistryConstruct(&cameraRegistry, c) == nullptr) {
        KvFreeListFree(m->cameraFreeList, c);
        return nullptr;
    }
    return c;
}

bool CameraDestroy(Camera* camera) {
    if (camera == nullptr) return true;
    RegistryDestruct(&cameraRegistry, camera);
    ObjectWithFrameRemove(&camera->object);
    // The engine must not keep a destroyed camera as its current one.
    EngineInstance* instance = EngineInstanceGet();
    if (instance->curCamera == camera) instance->curCamera = nullptr;
    if (CameraModule* m = Module()) KvFreeListFree(m->cameraFreeList, camera);
    return true;
}

Camera* CameraSetFrame(Camera* camera, Frame* frame) {
    ObjectWithFrameSetFrame(&camera->object, frame);
    return camera;
}

Camera* CameraSetViewWindow(Camera* camera, const V2d* viewWindow) {
    camera->viewWindow = *viewWindow;
    camera->recipViewWindow = V2d{1.0f / viewWindow->x, 1.0f / viewWindow->y};
    MarkFrame(camera);
    return camera;
}

Camera* CameraSetViewOffset(Camera* camera, const V2d* offset) {
    camera->viewOffset = *offset;
    MarkFrame(camera);
    return camera;
}

Camera* CameraSetProjection(Camera* camera, int32 projection) {
    if (projection != ProjectionPerspective && projection != ProjectionParallel) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    camera->projection = projection;
    UpdateDepthMapping(camera);
    MarkFrame(camera);
    return camera;
}

Camera* CameraSetNearClipPlane(Camera* camera, real nearPlane) {
    camera->nearPlane = nearPlane;
    UpdateDepthMapping(camera);
    MarkFrame(camera);
    return camera;
}

Camera* CameraSetFarClipPlane(Camera* camera, real farPlane) {
    camera->farPlane = farPlane;
    UpdateDepthMapping(camera);
    MarkFrame(camera);
    return camera;
}

Camera* CameraSetFogDistance(Camera* camera, real fogDistance) {
    camera->fogPlane = fogDistance;
    return camera;
}

Camera* CameraBeginUpdate(Camera* camera) { return camera->beginUpdate(camera); }

Camera* CameraEndUpdate(Camera* camera) { return camera->endUpdate(camera); }

Camera* CameraClear(Camera* camera, const RGBA* colour, int32 clearMode) {
    // Clearing depth alone needs no colour.
    RGBA c = colour != nullptr ? *colour : RGBA{0, 0, 0, 0};
    if (!StandardCall(StdCameraClear, camera, &c, clearMode)) return nullptr;
    return camera;
}

Camera* CameraShowRaster(Camera* camera, void* window, uint32 flags) {
    if (camera->frameBuffer == nullptr) {
        ErrorRaise(kModuleNone, kErrNullArgument);
        return nullptr;
    }
    if (RasterShowRaster(camera->frameBuffer, window, flags) == nullptr) return nullptr;
    return camera;
}

int32 CameraFrustumTestSphere(const Camera* camera, const Sphere* sphere) {
    int32 result = FrustumInside;
    for (const FrustumPlane& p : camera->frustumPlanes) {
        const real s = V3dDotProduct(p.normal, sphere->center) - p.distance;
        if (s > sphere->radius) return FrustumOutside;
        if (s > -sphere->radius) result = FrustumBoundary;
    }
    return result;
}

int32 CameraRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                           PluginCopy copy) {
    return RegistryRegister(&cameraRegistry, size, pluginID, construct, destruct, copy);
}

int32 CameraGetPluginOffset(uint32 pluginID) { return RegistryGetOffset(&cameraRegistry, pluginID); }

void* CameraModuleOpen(void* instance, int32 offset, int32 /*size*/) {
    CameraModule* m = slot.At(instance, offset);
    m->cameraFreeList = FreeListCreate(cameraRegistry.sizeOfStruct, kCamerasPerBlock, alignof(Camera));
    if (m->cameraFreeList == nullptr) return nullptr;
    slot.Opened(offset);
    ScreenViewSetQuery(CurrentCameraView);
    return instance;
}

void* CameraModuleClose(void* instance, int32 offset, int32 /*size*/) {
    CameraModule* m = slot.At(instance, offset);
    ScreenViewSetQuery(nullptr);
    if (m->cameraFreeList != nullptr) {
        FreeListDestroy(m->cameraFreeList);
        m->cameraFreeList = nullptr;
    }
    slot.Closed();
    return instance;
}

CoreModule CameraModuleEntry() {
    return {"camera", static_cast<int32>(sizeof(CameraModule)), kIdCameraModule, CameraModuleOpen, CameraModuleClose};
}

}  // namespace kv
