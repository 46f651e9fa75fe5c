// Cameras: objects on frames that describe a view volume and refer to a
// frame-buffer raster and a z-buffer raster. The view matrix, frustum corners,
// planes and box are recomputed when the frame hierarchy is synchronised.
//
// Device calls (standard functions, (out, inOut, in)):
//   1  begin update  (null, camera, 0)
//   10 end update    (null, camera, 0)
//   21 clear         (camera, const RGBA* colour, clear mode)
#pragma once

#include "engine/core/plugin_registry.h"
#include "engine/core/types.h"
#include "engine/frame/frame.h"
#include "engine/math/bbox.h"
#include "engine/math/matrix.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"

namespace kv {

struct FreeList;
struct Raster;
struct Camera;

constexpr uint8 kObjectTypeCamera = 4;

enum CameraProjection : int32 {
    ProjectionPerspective = 1,
    ProjectionParallel = 2,
};

enum CameraClearMode : int32 {
    ClearImage = 1,
    ClearZ = 2,
    ClearStencil = 4,
};

enum FrustumTestResult : int32 {
    FrustumOutside = 0,
    FrustumBoundary = 1,
    FrustumInside = 2,
};

// A point q lies outside when normal . q - distance > 0.
struct FrustumPlane {
    V3d normal;  // unit length, pointing out of the volume
    real distance;
    uint8 closestX;  // 1 when the normal's component is >= +0.0
    uint8 closestY;
    uint8 closestZ;
    uint8 pad;
};

struct Sphere {
    V3d center;
    real radius;
};

using CameraUpdateFn = Camera* (*)(Camera* camera);

// Registered extension data follows the record.
struct Camera {
    ObjectWithFrame object;  // header (type 4, parent: the frame), frame link, sync callback
    int32 projection;
    CameraUpdateFn beginUpdate;
    CameraUpdateFn endUpdate;
    Matrix viewMatrix;  // world -> normalised screen; (x/z, y/z) in 0..1 across the window
    Raster* frameBuffer;
    Raster* zBuffer;
    V2d viewWindow;  // half-extents at distance 1
    V2d recipViewWindow;
    V2d viewOffset;
    real nearPlane;
    real farPlane;
    real fogPlane;
    real zScale;  // depth mapping: zScale * (1/z or z) + zShift in the device's range
    real zShift;
    int32 reserved;
    FrustumPlane frustumPlanes[6];  // far, near, then the four sides
    BBox frustumBox;
    V3d frustumCorners[8];  // near 0-3 (+R+U, -R+U, -R-U, +R-U), far 4-7
};

// The camera module's block in the engine instance.
struct CameraModule {
    FreeList* cameraFreeList;
};

Camera* CameraCreate();
bool CameraDestroy(Camera* camera);

Camera* CameraSetFrame(Camera* camera, Frame* frame);
inline Frame* CameraGetFrame(const Camera* camera) { return ObjectWithFrameGetFrame(&camera->object); }

Camera* CameraSetViewWindow(Camera* camera, const V2d* viewWindow);
inline const V2d* CameraGetViewWindow(const Camera* camera) { return &camera->viewWindow; }
Camera* CameraSetViewOffset(Camera* camera, const V2d* offset);
inline const V2d* CameraGetViewOffset(const Camera* camera) { return &camera->viewOffset; }
Camera* CameraSetProjection(Camera* camera, int32 projection);
inline int32 CameraGetProjection(const Camera* camera) { return camera->projection; }
Camera* CameraSetNearClipPlane(Camera* camera, real nearPlane);
inline real CameraGetNearClipPlane(const Camera* camera) { return camera->nearPlane; }
Camera* CameraSetFarClipPlane(Camera* camera, real farPlane);
inline real CameraGetFarClipPlane(const Camera* camera) { return camera->farPlane; }
Camera* CameraSetFogDistance(Camera* camera, real fogDistance);
inline real CameraGetFogDistance(const Camera* camera) { return camera->fogPlane; }
inline const Matrix* CameraGetViewMatrix(const Camera* camera) { return &camera->viewMatrix; }

inline Camera* CameraSetRaster(Camera* camera, Raster* raster) {
    camera->frameBuffer = raster;
    return camera;
}
inline Raster* CameraGetRaster(const Camera* camera) { return camera->frameBuffer; }
inline Camera* CameraSetZRaster(Camera* camera, Raster* raster) {
    camera->zBuffer = raster;
    return camera;
}
inline Raster* CameraGetZRaster(const Camera* camera) { return camera->zBuffer; }

// Make the camera current, sync dirty frames, hand it to the device.
Camera* CameraBeginUpdate(Camera* camera);
Camera* CameraEndUpdate(Camera* camera);
// clearMode: ClearImage | ClearZ | ClearStencil; colour may be null without
// ClearImage.
Camera* CameraClear(Camera* camera, const RGBA* colour, int32 clearMode);
Camera* CameraShowRaster(Camera* camera, void* window, uint32 flags);

int32 CameraFrustumTestSphere(const Camera* camera, const Sphere* sphere);

// The camera registry: plugins register before the engine opens.
int32 CameraRegisterPlugin(int32 size, uint32 pluginID, PluginConstructor construct, PluginDestructor destruct,
                           PluginCopy copy);
int32 CameraGetPluginOffset(uint32 pluginID);

void* CameraModuleOpen(void* instance, int32 offset, int32 size);
void* CameraModuleClose(void* instance, int32 offset, int32 size);
CoreModule CameraModuleEntry();

}  // namespace kv
