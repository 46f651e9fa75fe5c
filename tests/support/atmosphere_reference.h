// A slow, plain integrator of the atmosphere of atmosphere_medium.h, to
// measure the program's physical sky against: spectral at 41 wavelengths
// (380 to 780 nm every 10 nm) converted with the CIE 1931 observer, every
// order of scattering, the ground's reflections included.
//
// Single scattering of sunlight (and the sunlit ground) along each of the
// viewer's rays is a quadrature with fine steps. Every further order is
// estimated by paths: from a point of a ray chosen in proportion to what it
// scatters (or from the ground where the ray ends), a direction is drawn from
// the phase function (or the cosine) and the single scattering along that new
// ray is again integrated by quadrature, and so on, with Russian roulette
// ending paths without bias. Paths are stratified and their random numbers
// depend only on the seed and the direction, so results repeat exactly.
// The sun's transmittance to any point comes from a fine table of the
// columns of air, aerosols and ozone along rays, which the constructor builds.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/math/vector.h"
#include "sky/atmosphere_medium.h"

namespace kv {

constexpr int kReferenceWavelengths = 41;
using ReferenceSpectrum = std::array<double, kReferenceWavelengths>;

struct ReferenceOptions {
    int viewSteps = 240;  // quadrature samples along a viewer's ray
    int raySteps = 24;    // and along the rays of further orders
    int paths = 128;      // paths per direction for the orders past the first
    int tableRows = 96;   // the table of columns to the top: radii
    int tableCols = 384;  // and directions
    int maxOrder = 60;
    int threads = 2;
    uint64_t seed = 1;
};

struct ReferenceRadiance {
    ReferenceSpectrum spectrum;  // W m^-2 sr^-1 nm^-1
    double xyz[3];               // cd/m^2
    double firstOrderY;          // the luminance of single scattering alone
    double luminanceError;       // standard error of the luminance from the paths
    ReferenceSpectrum single;    // single scattering alone, W m^-2 sr^-1 nm^-1
    ReferenceSpectrum second;    // the second order alone
    double secondError;          // standard errors of the luminance of the second order
    double furtherError;         // and of the orders past it
};

struct RayNodes;

class AtmosphereReference {
  public:
    AtmosphereReference(float turbidity, float albedo, float altitude, const ReferenceOptions& options,
                        const AtmosphereAerosols& aerosols = {});
    void SetSun(float zenithDegrees, float azimuthDegrees);
    // Radiance arriving at the viewer from each direction (unit vectors, y
    // up), the sun's disc left out.
    std::vector<ReferenceRadiance> Radiance(const std::vector<V3d>& directions) const;
    // Transmittance from the viewer along a path at a zenith angle, by a
    // direct fine quadrature.
    ReferenceSpectrum Transmittance(double zenithDegrees) const;
    const ReferenceOptions& Options() const { return options_; }

    static double Wavelength(int i) { return 380.0 + 10.0 * i; }
    // XYZ in cd/m^2 of a spectral radiance.
    static void SpectrumToXYZ(const ReferenceSpectrum& radiance, double xyz[3]);
    // The extraterrestrial solar irradiance at the wavelengths, W m^-2 nm^-1.
    const ReferenceSpectrum& SolarIrradiance() const { return solar_; }

  private:
    void TraceRay(const double origin[3], const double dir[3], int steps, ReferenceSpectrum* single,
                  RayNodes* nodes) const;
    double ColumnsTo(double r, double mu, double out[3]) const;
    // Columns from a point to the sun; false where the planet hides it.
    bool SunColumns(double r, double muS, double columns[3]) const;
    void Transmit(const double columns[3], ReferenceSpectrum* t) const;
    ReferenceRadiance One(const V3d& direction, uint64_t seed) const;
    // Luminance (cd/m^2) of a spectrum relative to the extraterrestrial irradiance.
    double Luminance(const ReferenceSpectrum& relative) const;

    ReferenceOptions options_;
    AtmosphereMedium medium_;
    float albedo_;
    double r0_;
    double sun_[3] = {0.0, 1.0, 0.0};
    ReferenceSpectrum rayleigh_{}, mieScattering_{}, mieExtinction_{}, ozone_{}, solar_{};
    // Columns (air, aerosols, ozone) to the top of the atmosphere over
    // (radius, direction) in the same crowded-at-the-horizon coordinates as
    // the fast model's transmittance, but far finer.
    int tableR_ = 0;
    int tableMu_ = 0;
    std::vector<double> columns_;
};

}  // namespace kv
