// The dome: a hemisphere of radius 1 around the origin of its own frame, y
// up, tessellated into rings and segments, whose vertices carry the sky colour
// of their direction as prelit colours. It lives in one atomic of the
// application's clump; a sun change recolours it.
#pragma once

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "engine/math/vector.h"
#include "sky/exposure.h"

namespace kv {

struct Atomic;
struct Clump;
struct Frame;
struct Geometry;
struct World;

constexpr int32 kDomeMinResolution = 1;
constexpr int32 kDomeMaxResolution = 32;
constexpr int32 kDomeDefaultResolution = 9;
constexpr float kDomeMinExposure = 0.01f;
constexpr float kDomeMaxExposure = 1.0f;
constexpr float kDomeDefaultExposure = 0.1f;

// The application's variables the dome reads (the menu edits them).
struct DomeSettings {
    int32 resolution;  // rings of the next tessellation
    float exposure;
    // Toggles (the menu's, hence ints).
    int32 sky;      // sky colours on; off paints every vertex opaque black
    int32 preview;  // the camera sits inside: the dome is turned inside out
    // The overlays drawn over the dome.
    int32 ground;   // the ground square (outside preview only)
    int32 wire;     // the wire mesh of the faces towards the viewer
    int32 normals;  // the vertex normals on the side towards the viewer (outside preview only)
    // Photographic exposure (sky/exposure.h) instead of the exposure curve
    // above: metered from what the view shows, or at the fixed EV100 ev.
    int32 autoExposure;
    int32 nightVision;  // the dark-adapted eye's shift, with photographic exposure
    int32 evFixed;      // ev is used as it is, not metered
    float ev;
};
DomeSettings* DomeGetSettings();

// The dome that exists now (the menu's resolution may differ until the next
// tessellation).
struct DomeTessellation {
    int32 rings;
    int32 segments;
};
const DomeTessellation* DomeGetTessellation();

// segments = 4 rings; vertices = rings * segments + 1; triangles =
// (2 rings - 1) * segments. Null (error raised) for rings outside 1..32 or
// when the engine cannot make the geometry. The caller owns the reference.
Geometry* DomeBuild(int32 rings);
inline int32 DomeVertexCount(int32 rings) { return 4 * rings * rings + 1; }
inline int32 DomeTriangleCount(int32 rings) { return 4 * rings * (2 * rings - 1); }

// Negates the normals and reverses the winding of the dome atomic's geometry;
// positions and colours stay. Twice restores it. Nothing without a geometry.
void DomeInvert();

// Rebuilds the dome at the settings' resolution, recolours it for the current
// sun and turns it inside out in preview. The old dome stays when the build
// or the colour buffer fails (the latter reported as "Tessellation failed.").
bool DomeTessellate();

// The colour buffer: linear sky colours, one per dome vertex. It grows to
// exactly the count asked for and never shrinks; a failed growth keeps the
// old buffer.
bool DomeReserveColors(int32 count);
void DomeFreeColors();
int32 DomeGetColorCapacity();
const RGBAReal* DomeGetColors();

// Sky colours of every vertex of the atomic's geometry from the sky model in
// use (sky_model.h) for the current sun, then DomeApplyColors(atomic,
// settings' sky).
void DomeComputeColors(Atomic* atomic);
// Tone-maps the buffer into the prelit colours with the settings' exposure,
// or paints them opaque black when off. With photographic exposure the
// meter reads the colours first: the whole dome in the orbit view, what the
// camera's view holds in the preview.
void DomeApplyColors(Atomic* atomic, bool on);
// The EV100 of the last photographic tone map (metered or fixed).
double DomeExposureEV();
// The exposure the window's pictures (PNG panoramas) are written with: the
// settings' curve, or photographic, metered from each sky when not fixed.
SkyPictureExposure DomePictureExposure();
// Photographic exposure is on by default with the physical sky: until the
// person chooses (an option, the menu's toggle), it follows the model in
// use, and the dome is tone-mapped again.
void DomeExposureChosen();
void DomeExposureFollowModel(bool physical);
// A colour of the sky model's RGB (kcd/m^2) as the dome's tone map shows it
// now (the sun's disc, the night's bodies).
RGBA DomeToneMap(const RGBAReal& colour);

// The scene the dome belongs to. The atomic is the one DomeInvert,
// DomeTessellate and the sun hook work on (DomeClumpCreate sets it); the
// camera frame is the viewer.
Atomic* DomeGetAtomic();
void DomeSetCameraFrame(Frame* frame);
// The camera's position and viewing direction in the dome's coordinates;
// recomputed after every change of the camera's or the dome's frame.
void DomeUpdateViewer();
void DomeGetViewer(V3d* position, V3d* direction);

// The clump: a frame, an atomic on a child frame holding DomeBuild(rings),
// the colour buffer reserved for it, added to the world, and remembered as the
// dome atomic. Nothing is left behind on failure.
Clump* DomeClumpCreate(World* world, int32 rings);
// The orbit view: turned 180 degrees about y, tilted 45 degrees towards the
// camera and pushed 4.5 along +z.
void DomeClumpPlaceOrbit(Clump* clump);
// Removes it from its world and destroys it; forgets the dome atomic.
void DomeClumpDestroy(Clump* clump);

// The overlays, drawn through the 3D immediate mode in the dome's frame
// between camera begin and end update. The ground's top face takes the
// texture raster the caller set (StateTextureRaster) and leaves texturing off
// and flat shading on for its underside; the wire and the normals draw with
// whatever states the caller set (flat, no texture, no depth test or write
// in the program). An overlay whose buffers cannot grow is skipped.
void DomeDrawGround();
void DomeDrawWire();
void DomeDrawNormals();
// The sun's disc (0.53 degrees across) towards direction (the dome's frame)
// in that colour, the part past the horizon left out; with the same states
// as the wire.
void DomeDrawSun(V3d direction, RGBA colour);
// The night's bodies the program's sky holds (sky/night_bodies.h): the
// moon's lit disc where it stands, and the stars and planets as squares of
// about a pixel and a half whose brightness is their flux spread over the
// square, through DomeToneMap. pixelAngle is the angle (radians) one pixel
// of the view spans; outside: the orbit view, where they lie just outside
// the dome and face away from it (drawn with the depth test, so that the far
// side's are hidden), else just inside it as the sun's disc. Returns the
// vertices made (a list of triangles in the overlays' scratch), 0 for none.
int32 DomePrepareBodies(double pixelAngle, bool outside);
// The same, drawn with the states the caller set.
void DomeDrawBodies(double pixelAngle, bool outside);
// The scratch buffers of the overlays: they grow to what is asked (both or
// neither) and never shrink; false when they cannot.
bool DomeReserveImmediate(int32 numVertices, int32 numIndices);
void DomeFreeImmediate();

// Where failures the user must hear about are reported (null: stderr).
using DomeMessageFn = void (*)(const char* text);
void DomeSetMessageFunction(DomeMessageFn report);

// Makes every sun move (SkyMoveSun) recolour the dome atomic.
void DomeAttachToSky();
// Releases the colour buffer, the recolour cache and the overlays' buffers,
// forgets the scene and restores the default settings.
void DomeReset();

}  // namespace kv
