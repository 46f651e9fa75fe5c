// Camera helpers of the skeleton: a camera with its frame and rasters, resized
// with the window, and the small cross-shaped pointer raster.
#pragma once

#include "app/skel/skeleton.h"
#include "engine/camera/camera.h"
#include "engine/image/raster.h"

namespace kv {

// A camera on a new frame with a width x height colour raster and, when asked,
// a z-buffer raster of the same size. Nothing is left behind on failure.
Camera* CameraCreateWithRasters(int32 width, int32 height, bool withZBuffer);
// Destroys the frame, the rasters and the camera; null is ignored.
void CameraDestroyWithRasters(Camera* camera);
// Re-creates the rasters at the record's size (the mode's size in a
// full-screen mode) and sets the view window so that the larger side gets
// viewWindow. record may be null; it is written back when the size changes
// from what was asked.
void CameraResizeRasters(Camera* camera, ResizeRecord* record, float viewWindow, float aspect);
// A 16 x 16 raster with the cross-shaped pointer.
Raster* CameraPointerCreate();

// The 16 x 16 RGBA pixels of the pointer.
const uint8* CameraPointerPixels();
// Forgets the remembered first raster size (a new engine start).
void CameraResizeForget();

}  // namespace kv
