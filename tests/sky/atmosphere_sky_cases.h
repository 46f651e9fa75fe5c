// The skies the physical sky is measured on against its slow reference, and
// the reference's radiance over them from a fine run, kept in
// atmosphere_reference_sky.inc (atmosphere_reference_test.cpp checks that it
// is what the reference gives, and writes it again on request).
#pragma once

#include <cmath>
#include <vector>

#include "engine/math/vector.h"

namespace kv {

// The directions of every sky: equal solid angles above the horizon,
// uniform in the cosine of the zenith angle, azimuths by the golden angle.
constexpr int kSkyDirections = 64;
// The sun's azimuth in every sky, degrees.
constexpr float kSkySunAzimuth = 30.0f;

inline std::vector<V3d> SkyDirections() {
    std::vector<V3d> d;
    for (int i = 0; i < kSkyDirections; ++i) {
        const double mu = 1.0 - (i + 0.5) / kSkyDirections;
        const double s = std::sqrt(1.0 - mu * mu);
        const double phi = i * 2.399963229728653;
        d.push_back(
            V3d{static_cast<real>(s * std::sin(phi)), static_cast<real>(mu), static_cast<real>(s * std::cos(phi))});
    }
    return d;
}

struct SkyCase {
    float elevation;  // of the sun, degrees
    float turbidity;
    float albedo;
    float altitude;  // of the viewer, m
};

// The reference's radiance in one direction: XYZ (cd/m^2) and the standard
// error of its luminance.
struct CachedDirection {
    double xyz[3];
    double error;
};

struct CachedSky {
    SkyCase sky;
    int paths;  // per direction
    CachedDirection directions[kSkyDirections];
};

// The first five are the skies whose goals the tests hold the model to.
constexpr int kGoalSkies = 5;
constexpr int kCachedSkies = 7;
extern const CachedSky kCachedSky[kCachedSkies];

}  // namespace kv
