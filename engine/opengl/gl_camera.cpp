// Camera begin and end update, clear and show: what frames every picture.
#include "engine/camera/camera.h"
#include "gl_internal.h"

namespace kv {

namespace {

// Rewritten at each parallel begin update; the rest stays as set here.
GLfloat parallelMatrix[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1.0f};

void SetProjection(const Camera* camera, const Raster* raster) {
    gl.MatrixMode(GL_PROJECTION);
    gl.LoadIdentity();
    // A picture drawn for a texture is drawn upside down, so that the copy
    // made at end update is upright.
    if (raster->rasterType == RasterTypeCameraTexture) {
        gl.Scalef(1.0f, -1.0f, 1.0f);
        gl.FrontFace(GL_CW);
    } else {
        gl.FrontFace(GL_CCW);
    }
    const float wx = camera->viewWindow.x, wy = camera->viewWindow.y;
    const float ox = camera->viewOffset.x, oy = camera->viewOffset.y;
    const float n = camera->nearPlane, f = camera->farPlane;
    if (camera->projection == ProjectionParallel) {
        parallelMatrix[0] = 1.0f / wx;
        parallelMatrix[5] = 1.0f / wy;
        parallelMatrix[8] = -ox / wx;
        parallelMatrix[9] = -oy / wy;
        parallelMatrix[10] = -2.0f / (f - n);
        parallelMatrix[14] = -(f + n) / (f - n);
        gl.MultMatrixf(parallelMatrix);
    } else {
        gl.Frustum(-n * ox - n * wx, -n * ox + n * wx, -n * oy - n * wy, -n * oy + n * wy, n, f);
    }
}

// OpenGL looks down -z and the engine along its at axis, with the right axis
// mirrored.
void SetView(const Camera* camera) {
    gl.MatrixMode(GL_MODELVIEW);
    gl.LoadIdentity();
    Frame* frame = CameraGetFrame(camera);
    if (frame == nullptr) return;
    const Matrix* w = FrameGetWorldMatrix(frame);
    const V3d& r = w->right;
    const V3d& u = w->up;
    const V3d& a = w->at;
    const GLfloat m[16] = {-r.x, u.x, -a.x, 0.0f, -r.y, u.y, -a.y, 0.0f, -r.z, u.z, -a.z, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    gl.MultMatrixf(m);
    const float ox = camera->viewOffset.x, oy = camera->viewOffset.y;
    const V3d& p = w->pos;
    gl.Translatef(-(p.x - ox * r.x + oy * u.x), -(p.y - ox * r.y + oy * u.y), -(p.z - ox * r.z + oy * u.z));
}

}  // namespace

Raster* GlCurrentCameraRaster() {
    const Camera* camera = GlDevice()->currentCamera;
    return camera != nullptr ? camera->frameBuffer : nullptr;
}

bool GlCameraBeginUpdate(void*, void* cameraArg, int32) {
    auto* camera = static_cast<Camera*>(cameraArg);
    GlDeviceState* d = GlDevice();
    if (camera == nullptr || camera->frameBuffer == nullptr || d->context == nullptr) return false;
    d->currentCamera = camera;
    GlMakeCurrent();
    const Raster* raster = camera->frameBuffer;
    // The raster's origin is its top-left corner, OpenGL's the bottom-left.
    gl.Viewport(raster->offsetX, GlClientHeight() - raster->offsetY - raster->height, raster->width, raster->height);
    SetProjection(camera, raster);
    SetView(camera);
    if (d->fogStart != camera->fogPlane) {
        gl.Fogf(GL_FOG_START, camera->fogPlane);
        d->fogStart = camera->fogPlane;
    }
    if (d->fogEnd != camera->farPlane) {
        gl.Fogf(GL_FOG_END, camera->farPlane);
        d->fogEnd = camera->farPlane;
    }
    return true;
}

bool GlCameraEndUpdate(void*, void* cameraArg, int32) {
    auto* camera = static_cast<Camera*>(cameraArg);
    GlDeviceState* d = GlDevice();
    if (camera != nullptr && camera->frameBuffer != nullptr &&
        camera->frameBuffer->rasterType == RasterTypeCameraTexture && d->context != nullptr) {
        Raster* raster = camera->frameBuffer;
        GlMakeCurrent();
        gl.ReadBuffer(GL_BACK);
        GlStateBindTexture(GlRasterExt(raster->parentRaster)->textureName);
        gl.CopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, GlClientHeight() - raster->height, raster->width,
                             raster->height);
        // The render state's texture is the one that must stay bound.
        GlRestoreTextureBinding();
    }
    d->currentCamera = nullptr;
    return true;
}

bool GlCameraClear(void* cameraArg, void* colourArg, int32 flags) {
    auto* camera = static_cast<Camera*>(cameraArg);
    GlDeviceState* d = GlDevice();
    if (camera == nullptr || camera->frameBuffer == nullptr || d->context == nullptr) return false;
    GlMakeCurrent();
    if ((flags & ClearImage) != 0 && colourArg == nullptr) return false;
    const Raster* raster = camera->frameBuffer;
    const Raster* top = raster->parentRaster != nullptr ? raster->parentRaster : raster;
    const bool scissor = raster->width != top->width || raster->height != top->height ||
                         raster->offsetX != top->offsetX || raster->offsetY != top->offsetY;
    GLbitfield mask = 0;
    if ((flags & ClearImage) != 0) mask |= GL_COLOR_BUFFER_BIT;
    if ((flags & ClearZ) != 0) mask |= GL_DEPTH_BUFFER_BIT;
    if ((flags & ClearStencil) != 0) mask |= GL_STENCIL_BUFFER_BIT;
    const GlClearArea area{scissor, raster->offsetX, GlClientHeight() - raster->offsetY - raster->height, raster->width,
                           raster->height};
    GlStateClear(mask, static_cast<const uint8*>(colourArg), area);
    return true;
}

bool GlRasterShow(void*, void*, int32) { return GlSwapBuffers(); }

}  // namespace kv
