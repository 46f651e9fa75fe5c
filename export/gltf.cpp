#include "gltf.h"

#include <tiny_gltf.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <sstream>

#include "engine/core/quoted_name.h"
#include "engine/math/rgba.h"
#include "engine/stream/safe_write.h"
#include "engine/world/geometry.h"
#include "export/export_file.h"
#include "sky/analytic_sky.h"
#include "sky/ephemeris.h"
#include "sky/moon.h"
#include "sky/night_bodies.h"
#include "sky/sky_model.h"
#include "sky/sun_position.h"

namespace kv {

namespace {

// glTF's numbers for the two kinds of buffer target.
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

// Appends the bytes to the buffer, padded to 4 bytes, and
// returns the view that holds them.
int AddView(tinygltf::Model* m, const void* data, std::size_t bytes, int target) {
    std::vector<unsigned char>& buffer = m->buffers[0].data;
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buffer.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), p, p + bytes);
    buffer.resize((buffer.size() + 3) & ~std::size_t{3}, 0);
    m->bufferViews.push_back(view);
    return static_cast<int>(m->bufferViews.size()) - 1;
}

int AddAccessor(tinygltf::Model* m, int view, int componentType, int type, std::size_t count) {
    tinygltf::Accessor a;
    a.bufferView = view;
    a.byteOffset = 0;
    a.componentType = componentType;
    a.type = type;
    a.count = count;
    m->accessors.push_back(a);
    return static_cast<int>(m->accessors.size()) - 1;
}

// The light's node turns its -z away from the sun: the rotation that takes
// +z to the direction towards the sun.
std::vector<double> TowardsSun(const V3d& s) {
    const double length =
        std::sqrt(static_cast<double>(s.x) * s.x + static_cast<double>(s.y) * s.y + static_cast<double>(s.z) * s.z);
    const double x = s.x / length, y = s.y / length, z = s.z / length;
    // Half way between +z and the sun: axis z x s, scaled by sin, and 1 + z.s.
    double q[4] = {-y, x, 0.0, 1.0 + z};
    if (q[3] < 1e-9) {
        // The sun straight along -z: half a turn about x.
        q[0] = 1.0;
        q[1] = 0.0;
        q[3] = 0.0;
    }
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    return {q[0] / n, q[1] / n, q[2] / n, q[3] / n};
}

void AddLight(tinygltf::Model* m, tinygltf::Scene* scene, const GltfSun& sun, const char* name) {
    const double rgb[3] = {sun.colour.red, sun.colour.green, sun.colour.blue};
    const double largest = std::fmax(rgb[0], std::fmax(rgb[1], rgb[2]));
    if (!(largest > 0.0)) return;
    tinygltf::Light light;
    light.name = name;
    light.type = "directional";
    light.color = {rgb[0] / largest, rgb[1] / largest, rgb[2] / largest};
    // Rec. 709 luminance, as engines weigh the colour.
    const double luminance = 0.2126 * light.color[0] + 0.7152 * light.color[1] + 0.0722 * light.color[2];
    light.intensity = sun.illuminance / luminance;
    m->lights.push_back(light);
    tinygltf::Node node;
    node.name = name;
    node.rotation = TowardsSun(sun.direction);
    tinygltf::Value::Object link;
    link["light"] = tinygltf::Value(static_cast<int>(m->lights.size()) - 1);
    node.extensions[kGltfLights] = tinygltf::Value(link);
    m->nodes.push_back(node);
    scene->nodes.push_back(static_cast<int>(m->nodes.size()) - 1);
}

}  // namespace

float GltfLinearFromSrgb(uint8 byte) {
    const double c = static_cast<double>(byte * kByteToUnit);
    return static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

bool DomeExportGLTF(const Geometry* geometry, bool inward, const char* path, std::string* message, const GltfSun* sun,
                    const GltfSun* moon) {
    const std::string target = path != nullptr ? path : "";
    if (geometry == nullptr) {
        if (message != nullptr) *message = "Cannot export the dome to " + target + ": there is no dome.";
        return false;
    }
    const MorphTarget* morph = GeometryGetMorphTarget(geometry, 0);
    const Triangle* triangles = GeometryGetTriangles(geometry);
    const int32 nt = GeometryGetNumTriangles(geometry);
    std::vector<uint16> indices;
    try {
        indices.resize(static_cast<std::size_t>(nt > 0 ? nt : 0) * 3);
    } catch (const std::exception&) {
        if (message != nullptr) *message = "Cannot export the dome to " + target + ": out of memory.";
        return false;
    }
    for (int32 t = 0; t < nt && triangles != nullptr; ++t) {
        for (int k = 0; k < 3; ++k) indices[3 * static_cast<std::size_t>(t) + k] = triangles[t].vertIndex[k];
    }
    const GltfDome dome{morph != nullptr ? MorphTargetGetVertices(morph) : nullptr,
                        morph != nullptr ? MorphTargetGetNormals(morph) : nullptr,
                        GeometryGetPrelitColors(geometry),
                        GeometryGetNumVertices(geometry),
                        triangles != nullptr ? indices.data() : nullptr,
                        nt};
    return GltfExportDome(dome, inward, path, message, sun, moon);
}

bool GltfExportDome(const GltfDome& dome, bool inward, const char* path, std::string* message, const GltfSun* sun,
                    const GltfSun* moon) {
    const std::string target = path != nullptr ? path : "";
    auto fail = [&](const std::string& why) {
        if (message != nullptr) *message = "Cannot export the dome to " + QuotedName(target) + ": " + why + ".";
        return false;
    };
    const V3d* positions = dome.positions;
    const V3d* normals = dome.normals;
    const RGBA* prelit = dome.prelit;
    const int32 nv = dome.vertices;
    const int32 nt = dome.triangles;
    if (positions == nullptr || normals == nullptr || prelit == nullptr || dome.indices == nullptr || nv < 1 ||
        nt < 1) {
        return fail("the dome has no positions, normals, colours or triangles");
    }

    std::string bytes;
    try {
        const float sign = inward ? -1.0f : 1.0f;
        std::vector<float> p(static_cast<std::size_t>(nv) * 3);
        std::vector<float> n(p.size());
        std::vector<float> c(p.size());
        std::vector<double> lo(3, INFINITY);
        std::vector<double> hi(3, -INFINITY);
        float linear[256];
        for (int i = 0; i < 256; ++i) linear[i] = GltfLinearFromSrgb(static_cast<uint8>(i));
        for (int32 i = 0; i < nv; ++i) {
            const float xyz[3] = {positions[i].x, positions[i].y, positions[i].z};
            const float nxyz[3] = {normals[i].x, normals[i].y, normals[i].z};
            const uint8 rgb[3] = {prelit[i].red, prelit[i].green, prelit[i].blue};
            for (int k = 0; k < 3; ++k) {
                p[3 * i + k] = xyz[k];
                n[3 * i + k] = sign * nxyz[k];
                c[3 * i + k] = linear[rgb[k]];
                lo[k] = std::fmin(lo[k], xyz[k]);
                hi[k] = std::fmax(hi[k], xyz[k]);
            }
        }
        std::vector<uint16> indices(static_cast<std::size_t>(nt) * 3);
        for (int32 t = 0; t < nt; ++t) {
            const uint16* v = dome.indices + 3 * static_cast<std::size_t>(t);
            // Turned back outwards: (a, c, b) undoes the inversion's swap.
            indices[3 * t] = v[0];
            indices[3 * t + 1] = inward ? v[2] : v[1];
            indices[3 * t + 2] = inward ? v[1] : v[2];
        }

        tinygltf::Model m;
        m.asset.version = "2.0";
        m.asset.generator = "KV3 Skydome Creator";
        m.buffers.resize(1);
        const std::size_t vec3 = sizeof(float) * 3 * static_cast<std::size_t>(nv);
        const int position = AddAccessor(&m, AddView(&m, p.data(), vec3, kArrayBuffer), TINYGLTF_COMPONENT_TYPE_FLOAT,
                                         TINYGLTF_TYPE_VEC3, static_cast<std::size_t>(nv));
        m.accessors[position].minValues = lo;
        m.accessors[position].maxValues = hi;
        const int normal = AddAccessor(&m, AddView(&m, n.data(), vec3, kArrayBuffer), TINYGLTF_COMPONENT_TYPE_FLOAT,
                                       TINYGLTF_TYPE_VEC3, static_cast<std::size_t>(nv));
        const int colour = AddAccessor(&m, AddView(&m, c.data(), vec3, kArrayBuffer), TINYGLTF_COMPONENT_TYPE_FLOAT,
                                       TINYGLTF_TYPE_VEC3, static_cast<std::size_t>(nv));
        const int index =
            AddAccessor(&m, AddView(&m, indices.data(), sizeof(uint16) * indices.size(), kElementArrayBuffer),
                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR, indices.size());

        // The colours are the light: no shading. Lit viewers fall back to a
        // white, rough, non-metallic surface. Both sides show, so the dome is
        // seen from inside as a sky and from outside as a model.
        tinygltf::Material material;
        material.name = "sky";
        material.doubleSided = true;
        material.pbrMetallicRoughness.baseColorFactor = {1.0, 1.0, 1.0, 1.0};
        material.pbrMetallicRoughness.metallicFactor = 0.0;
        material.pbrMetallicRoughness.roughnessFactor = 1.0;
        material.extensions[kGltfUnlit] = tinygltf::Value(tinygltf::Value::Object());
        m.materials.push_back(material);
        m.extensionsUsed.push_back(kGltfUnlit);

        tinygltf::Primitive primitive;
        primitive.attributes["POSITION"] = position;
        primitive.attributes["NORMAL"] = normal;
        primitive.attributes["COLOR_0"] = colour;
        primitive.indices = index;
        primitive.material = 0;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        tinygltf::Mesh mesh;
        mesh.name = "skydome";
        mesh.primitives.push_back(primitive);
        m.meshes.push_back(mesh);
        tinygltf::Node node;
        node.name = "skydome";
        node.mesh = 0;
        m.nodes.push_back(node);
        tinygltf::Scene scene;
        scene.nodes.push_back(0);
        if (sun != nullptr && sun->illuminance > 0.0) AddLight(&m, &scene, *sun, "sun");
        if (moon != nullptr && moon->illuminance > 0.0) AddLight(&m, &scene, *moon, "moon");
        m.scenes.push_back(scene);
        m.defaultScene = 0;

        std::ostringstream out;
        tinygltf::TinyGLTF writer;
        if (!writer.WriteGltfSceneToStream(&m, out, false, true)) return fail("the model could not be encoded");
        bytes = out.str();
    } catch (const std::exception& e) {
        return fail(std::string("the model could not be encoded (") + e.what() + ")");
    }
    std::string why;
    if (!ExportFileWrite(target.c_str(), ExportStringWriter, &bytes, &why)) return fail(why);
    return true;
}

bool GltfMoonOf(Sky* sky, GltfSun* moon) {
    SkyPlaceMoment where;
    if (SkyModelInUse(sky) != SkyModelPhysical || !SkyGetPlaceMoment(sky, &where)) return false;
    const MoonView m = MoonObserve(SkyMomentAt(SolarJulianDay(where.moment)),
                                   SkyPlace{where.latitude, where.longitude, where.altitude});
    if (!(m.horizontal.altitude > 0.0)) return false;
    // Luminance 1 outside the air, as it arrives: its colour and what is left.
    RGBAReal through = SkyModelThroughAir(sky, 90.0 - m.horizontal.altitude);
    const double kept = SkyModelLuminance(sky, through);
    if (!(kept > 0.0)) return false;
    SkyModelToRec709(sky, &through, 1);
    const auto unit = static_cast<real>(1.0 / kept);
    const double theta = (90.0 - m.horizontal.altitude) * kSkyDegToRad;
    const double phi = SolarProgramAzimuth(m.horizontal.azimuth) * kSkyDegToRad;
    moon->direction = V3d{static_cast<real>(std::sin(theta) * std::sin(phi)), static_cast<real>(std::cos(theta)),
                          static_cast<real>(std::sin(theta) * std::cos(phi))};
    moon->colour = RGBAReal{through.red * unit, through.green * unit, through.blue * unit, 0.0f};
    moon->illuminance = m.illuminance * kept;
    return true;
}

}  // namespace kv
