#include "irradiance.h"

#include <cmath>
#include <cstdio>

#include "export/export_file.h"
#include "sky/sky.h"
#include "sky/sky_model.h"

namespace kv {

namespace {

// The faces the coefficients are projected from: the sky varies slowly
// next to the nine functions, and 6 x 64 x 64 directions hold it well
// within a tenth of a percent.
constexpr int32 kProjectionSize = 64;

bool SkyOnly(void* data, const V3d* directions, std::int64_t count, RGBAReal* out) {
    return SkyRadiance(static_cast<Sky*>(data), directions, count, out, 0);
}

std::string Number(double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.9g", v);
    return buffer;
}

std::string Triple(double a, double b, double c) { return "[" + Number(a) + ", " + Number(b) + ", " + Number(c) + "]"; }

}  // namespace

void IrradianceBasis(const CubeVector& d, double y[kIrradianceCoefficients]) {
    y[0] = 0.282095;
    y[1] = 0.488603 * d.y;
    y[2] = 0.488603 * d.z;
    y[3] = 0.488603 * d.x;
    y[4] = 1.092548 * d.x * d.y;
    y[5] = 1.092548 * d.y * d.z;
    y[6] = 0.315392 * (3.0 * d.z * d.z - 1.0);
    y[7] = 1.092548 * d.x * d.z;
    y[8] = 0.546274 * (d.x * d.x - d.y * d.y);
}

bool IrradianceCompute(Sky* sky, SkyIrradiance* out) {
    *out = SkyIrradiance{};
    CubeScene scene;
    scene.radiance = SkyOnly;
    scene.data = sky;
    Cubemap cube;
    if (!CubemapRender(scene, kProjectionSize, CubeFrameRightHanded, &cube)) return false;
    const int32 size = kProjectionSize;
    const std::vector<float>& level = cube.levels[0];
    for (int32 face = 0; face < 6; ++face) {
        for (int32 y = 0; y < size; ++y) {
            for (int32 x = 0; x < size; ++x) {
                const CubeVector d = CubeFacePoint(face, (x + 0.5) / size, (y + 0.5) / size);
                const double w = CubeTexelSolidAngle(size, x, y) * 1000.0;  // kcd/m^2 to cd/m^2
                double basis[kIrradianceCoefficients];
                IrradianceBasis(d, basis);
                const float* t =
                    level.data() + ((static_cast<std::size_t>(face) * size + y) * size + x) * kCubeChannels;
                for (int32 k = 0; k < kIrradianceCoefficients; ++k) {
                    for (int32 c = 0; c < 3; ++c) out->radiance[k][c] += t[c] * basis[k] * w;
                }
            }
        }
    }
    const V3d sun = SkySunDirection(sky);
    out->sunDirection = CubeVector{sun.x, sun.y, sun.z};
    out->sunColour = SkyModelLight(sky)->sunColour;
    out->sunIlluminance = SkySunIlluminance(sky);
    return true;
}

void IrradianceOfSky(const SkyIrradiance& irradiance, const CubeVector& n, double rgb[3]) {
    double basis[kIrradianceCoefficients];
    IrradianceBasis(n, basis);
    const int32 band[kIrradianceCoefficients] = {0, 1, 1, 1, 2, 2, 2, 2, 2};
    for (int32 c = 0; c < 3; ++c) {
        rgb[c] = 0.0;
        for (int32 k = 0; k < kIrradianceCoefficients; ++k) {
            rgb[c] += kIrradianceBand[band[k]] * irradiance.radiance[k][c] * basis[k];
        }
    }
}

std::string IrradianceJSON(const SkyIrradiance& s) {
    const int32 band[kIrradianceCoefficients] = {0, 1, 1, 1, 2, 2, 2, 2, 2};
    std::string radiance, irradiance;
    for (int32 k = 0; k < kIrradianceCoefficients; ++k) {
        const char* comma = k + 1 < kIrradianceCoefficients ? ",\n" : "\n";
        const double* r = s.radiance[k];
        const double a = kIrradianceBand[band[k]];
        radiance += "      " + Triple(r[0], r[1], r[2]) + comma;
        irradiance += "      " + Triple(a * r[0], a * r[1], a * r[2]) + comma;
    }
    std::string text = "{\n";
    text += "  \"kind\": \"skydome irradiance\",\n";
    text += "  \"version\": 1,\n";
    text += "  \"axes\": \"unit directions (x, y, z) with y up, +z north, +x west (right-handed)\",\n";
    text += "  \"colour\": \"linear Rec. 709 RGB\",\n";
    text += "  \"sky\": {\n";
    text +=
        "    \"note\": \"the sky and the ground below the horizon, without the sun's disc: the sun is the "
        "directional light below\",\n";
    text +=
        "    \"basis\": [\"0.282095\", \"0.488603 y\", \"0.488603 z\", \"0.488603 x\", \"1.092548 x y\", "
        "\"1.092548 y z\", \"0.315392 (3 z^2 - 1)\", \"1.092548 x z\", \"0.546274 (x^2 - y^2)\"],\n";
    text += "    \"convolution\": [" + Number(kIrradianceBand[0]) + ", " + Number(kIrradianceBand[1]) + ", " +
            Number(kIrradianceBand[2]) + "],\n";
    text += "    \"radiance_unit\": \"cd/m^2\",\n";
    text += "    \"radiance\": [\n" + radiance + "    ],\n";
    text += "    \"irradiance_unit\": \"lx\",\n";
    text += "    \"irradiance\": [\n" + irradiance + "    ]\n";
    text += "  },\n";
    text += "  \"sun\": {\n";
    text +=
        "    \"note\": \"a directional light, not in the coefficients; illuminance on a surface facing it, 0 "
        "when the planet hides it\",\n";
    text += "    \"direction\": " + Triple(s.sunDirection.x, s.sunDirection.y, s.sunDirection.z) + ",\n";
    text += "    \"colour\": " + Triple(s.sunColour.red, s.sunColour.green, s.sunColour.blue) + ",\n";
    text += "    \"illuminance\": " + Number(s.sunIlluminance) + "\n";
    text += "  }\n";
    text += "}\n";
    return text;
}

bool IrradianceWriteJSON(Sky* sky, const char* path, std::string* message) {
    const std::string target = path != nullptr ? path : "";
    std::string why = "out of memory";
    SkyIrradiance irradiance;
    if (IrradianceCompute(sky, &irradiance)) {
        const std::string text = IrradianceJSON(irradiance);
        if (ExportFileWrite(target.c_str(), ExportStringWriter, const_cast<std::string*>(&text), &why)) return true;
    }
    if (message != nullptr) *message = "Cannot write the irradiance to " + target + ": " + why + ".";
    return false;
}

}  // namespace kv
