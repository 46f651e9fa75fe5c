#include "camera_helpers.h"

#include <initializer_list>

#include "engine/core/engine.h"
#include "engine/frame/frame.h"
#include "engine/image/image.h"

namespace kv {

namespace {

constexpr int32 kPointerSize = 16;

// The size the rasters had when the first resize came; a failed resize falls
// back to it.
int32 rememberedWidth = 0;
int32 rememberedHeight = 0;
ResizeRecord fallbackRecord{};

// The cross's colours as 0xRRGGBBAA; the picture is symmetric about the
// centre between columns and rows 7 and 8.
constexpr uint32 kEdge = 0x404040A0;
constexpr uint32 kMidA = 0x7F7F7FDF;
constexpr uint32 kMidB = 0x808080E0;
constexpr uint32 kWhite = 0xFFFFFFFF;
constexpr uint32 kShade = 0x00000060;
constexpr uint32 kFaint = 0x00000030;
constexpr uint32 kLight = 0xBFBFBFEF;

uint8 pointerPixels[kPointerSize * kPointerSize * 4];
bool pointerBuilt = false;

void PutPixel(int32 row, int32 column, uint32 v) {
    uint8* p = &pointerPixels[(row * kPointerSize + column) * 4];
    p[0] = static_cast<uint8>(v >> 24);
    p[1] = static_cast<uint8>(v >> 16);
    p[2] = static_cast<uint8>(v >> 8);
    p[3] = static_cast<uint8>(v);
}

void BuildPointer() {
    if (pointerBuilt) return;
    // The vertical bar, one half mirrored onto the other.
    for (int32 r : {1, 14}) {
        PutPixel(r, 7, kEdge);
        PutPixel(r, 8, kEdge);
    }
    for (int32 r : {2, 13}) {
        PutPixel(r, 7, kMidA);
        PutPixel(r, 8, kMidB);
    }
    for (int32 r : {3, 4, 11, 12}) {
        PutPixel(r, 6, kShade);
        PutPixel(r, 7, kWhite);
        PutPixel(r, 8, kWhite);
        PutPixel(r, 9, kShade);
    }
    for (int32 r : {5, 10}) {
        PutPixel(r, 6, kFaint);
        PutPixel(r, 7, kLight);
        PutPixel(r, 8, kLight);
        PutPixel(r, 9, kFaint);
    }
    for (int32 r : {6, 9}) {
        for (int32 c : {3, 4, 11, 12}) PutPixel(r, c, kShade);
        PutPixel(r, 5, kFaint);
        PutPixel(r, 10, kFaint);
        PutPixel(r, 7, kMidA);
        PutPixel(r, 8, kMidB);
    }
    // The horizontal bar.
    const uint32 row7[kPointerSize] = {0,      kEdge, kMidA,  kWhite, kWhite, kLight, kMidA, kShade,
                                       kShade, kMidA, kLight, kWhite, kWhite, kMidA,  kEdge, 0};
    for (int32 c = 0; c < kPointerSize; ++c) {
        PutPixel(7, c, row7[c]);
        const bool darker = c == 2 || c == 6 || c == 9 || c == 13;
        PutPixel(8, c, darker ? kMidB : row7[c]);
    }
    pointerBuilt = true;
}

void DestroyRasters(Camera* camera) {
    if (Raster* r = CameraGetRaster(camera)) {
        CameraSetRaster(camera, nullptr);
        RasterDestroy(r);
    }
    if (Raster* z = CameraGetZRaster(camera)) {
        CameraSetZRaster(camera, nullptr);
        RasterDestroy(z);
    }
}

}  // namespace

Camera* CameraCreateWithRasters(int32 width, int32 height, bool withZBuffer) {
    Camera* camera = CameraCreate();
    if (camera == nullptr) return nullptr;
    Frame* frame = FrameCreate();
    if (frame != nullptr) CameraSetFrame(camera, frame);
    CameraSetRaster(camera, RasterCreate(width, height, 0, RasterTypeCamera));
    if (withZBuffer) CameraSetZRaster(camera, RasterCreate(width, height, 0, RasterTypeZBuffer));
    if (frame == nullptr || CameraGetRaster(camera) == nullptr ||
        (withZBuffer && CameraGetZRaster(camera) == nullptr)) {
        CameraDestroyWithRasters(camera);
        return nullptr;
    }
    return camera;
}

void CameraDestroyWithRasters(Camera* camera) {
    if (camera == nullptr) return;
    if (Frame* frame = CameraGetFrame(camera)) {
        CameraSetFrame(camera, nullptr);
        FrameDestroy(frame);
    }
    DestroyRasters(camera);
    CameraDestroy(camera);
}

void CameraResizeRasters(Camera* camera, ResizeRecord* record, float viewWindow, float aspect) {
    if (camera == nullptr) return;
    Raster* colour = CameraGetRaster(camera);
    if (rememberedWidth == 0 && rememberedHeight == 0 && colour != nullptr) {
        rememberedWidth = RasterGetWidth(colour);
        rememberedHeight = RasterGetHeight(colour);
    }
    VideoModeInfo mode{};
    const bool haveMode = EngineGetVideoModeInfo(&mode, EngineGetCurrentVideoMode()) != nullptr;
    const bool fullScreen = haveMode && (mode.flags & kVideoModeFullScreen) != 0;
    if (record == nullptr) {
        fallbackRecord = ResizeRecord{0, 0, colour != nullptr ? RasterGetWidth(colour) : 0,
                                      colour != nullptr ? RasterGetHeight(colour) : 0};
        record = &fallbackRecord;
    }
    if (fullScreen) *record = ResizeRecord{0, 0, mode.width, mode.height};
    if (record->width <= 0 || record->height <= 0) return;

    // A camera made without a depth raster stays without one.
    const bool withZ = CameraGetZRaster(camera) != nullptr;
    DestroyRasters(camera);
    Raster* newColour = RasterCreate(record->width, record->height, 0, RasterTypeCamera);
    Raster* newZ = withZ ? RasterCreate(record->width, record->height, 0, RasterTypeZBuffer) : nullptr;
    if (newColour != nullptr && (!withZ || newZ != nullptr)) {
        CameraSetRaster(camera, newColour);
        CameraSetZRaster(camera, newZ);
        V2d window;
        if (fullScreen) {
            window = V2d{viewWindow, viewWindow / aspect};
        } else {
            const float w = static_cast<float>(record->width);
            const float h = static_cast<float>(record->height);
            window = h >= w ? V2d{viewWindow * w / h, viewWindow} : V2d{viewWindow, viewWindow * h / w};
        }
        CameraSetViewWindow(camera, &window);
        return;
    }
    RasterDestroy(newColour);
    RasterDestroy(newZ);
    record->width = rememberedWidth;
    record->height = rememberedHeight;
    CameraSetRaster(camera, RasterCreate(rememberedWidth, rememberedHeight, 0, RasterTypeCamera));
    if (withZ) CameraSetZRaster(camera, RasterCreate(rememberedWidth, rememberedHeight, 0, RasterTypeZBuffer));
}

Raster* CameraPointerCreate() {
    BuildPointer();
    Image* image = ImageCreate(kPointerSize, kPointerSize, 32);
    if (image == nullptr) return nullptr;
    ImageSetStride(image, kPointerSize * 4);
    ImageSetPixels(image, pointerPixels);
    Raster* raster = RasterCreate(kPointerSize, kPointerSize, 0, RasterTypeNormal);
    if (raster != nullptr && RasterSetFromImage(raster, image) == nullptr) {
        RasterDestroy(raster);
        raster = nullptr;
    }
    ImageDestroy(image);
    return raster;
}

const uint8* CameraPointerPixels() {
    BuildPointer();
    return pointerPixels;
}

void CameraResizeForget() {
    rememberedWidth = 0;
    rememberedHeight = 0;
}

}  // namespace kv
