// The sky's diffuse light for engines: the nine spherical-harmonic
// coefficients of its radiance, from which the irradiance on a surface of
// any normal follows by the clamped cosine's convolution (Ramamoorthi and
// Hanrahan 2001, "An Efficient Representation for Irradiance Environment
// Maps"), and the sun apart as a directional light, as most engines want it:
// a disc half a degree across is no work for nine coefficients.
//
// The basis is the real one of their paper, with its constants, in the
// program's axes (unit direction (x, y, z), y up, +z north, +x west):
//   Y00 = 0.282095
//   Y1-1 = 0.488603 y   Y10 = 0.488603 z   Y11 = 0.488603 x
//   Y2-2 = 1.092548 xy  Y2-1 = 1.092548 yz  Y21 = 1.092548 xz
//   Y20 = 0.315392 (3 z^2 - 1)   Y22 = 0.546274 (x^2 - y^2)
// Coefficients L_lm of radiance in cd/m^2 (linear Rec. 709 channels); the
// irradiance in lux on a surface of normal n is
//   E(n) = sum over l, m of A_l L_lm Y_lm(n),  A_0 = pi, A_1 = 2 pi / 3,
//   A_2 = pi / 4.
#pragma once

#include <numbers>
#include <string>

#include "engine/core/types.h"
#include "engine/math/rgba.h"
#include "export/cubemap.h"

namespace kv {

struct Sky;

constexpr int32 kIrradianceCoefficients = 9;
// The convolution's factors by band (Ramamoorthi and Hanrahan 2001, eq. 8).
constexpr double kIrradianceBand[3] = {std::numbers::pi, 2.0 * std::numbers::pi / 3.0, std::numbers::pi / 4.0};

struct SkyIrradiance {
    double radiance[kIrradianceCoefficients][3] = {};  // L_lm per channel, cd/m^2: the sky and the ground
    CubeVector sunDirection{0.0, 1.0, 0.0};            // towards the sun
    RGBAReal sunColour{};                              // linear Rec. 709 at luminance 1
    double sunIlluminance = 0.0;                       // lux on a surface facing the sun; 0 when it is set
};

// The basis functions at a unit direction, in the order above.
void IrradianceBasis(const CubeVector& d, double y[kIrradianceCoefficients]);
// The coefficients of the sky (its disc left out) and its sun; false when
// memory runs out.
bool IrradianceCompute(Sky* sky, SkyIrradiance* out);
// The sky's irradiance (lux per channel) on a surface of unit normal n,
// without the sun's.
void IrradianceOfSky(const SkyIrradiance& irradiance, const CubeVector& n, double rgb[3]);

// The JSON file (its schema in the README), written the safe way; false with
// *message naming the file and the problem.
bool IrradianceWriteJSON(Sky* sky, const char* path, std::string* message);
// The JSON text of computed values.
std::string IrradianceJSON(const SkyIrradiance& irradiance);

}  // namespace kv
