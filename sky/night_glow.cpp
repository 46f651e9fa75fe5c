#include "night_glow.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "planets.h"

namespace kv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
// One S10 in V mag/arcsec^2: 10 + 2.5 log10(3600^2).
constexpr double kS10Magnitude = 27.78;
// Leinert et al. (1998): the zenith airglow of a dark site in V at moderate
// solar activity, the zodiacal light at the ecliptic pole and the faint
// stars' light at high galactic latitude, S10.
constexpr double kAirglowZenith = 145.0;
constexpr double kZodiacalPole = 60.0;
constexpr double kStarlightPole = 15.0;
// The Milky Way's faint stars in the galactic plane, about 200 S10 above the
// poles' (Roach & Gordon 1973, "The light of the night sky", as Leinert et
// al. 1998 section 10 summarise it), falling off over some 12 degrees.
constexpr double kStarlightPlane = 200.0;
constexpr double kStarlightScaleHeight = 12.0;
// The airglow's emitting layer at about 90 km over an Earth of 6371 km: the
// van Rhijn function (van Rhijn 1921) brightens it towards the horizon,
// where the line of sight crosses the layer obliquely.
constexpr double kLayerRatio = 6371.0 / (6371.0 + 90.0);
// V-band extinction per airmass at a good site, and the airmass formula of
// Krisciunas & Schaefer (1991, eqs. 2-3), whose dark sky scales as
// X * 10^(-0.4 k (X - 1)).
constexpr double kExtinction = 0.172;
// The north galactic pole, J2000 (Blaauw et al. 1960, in ICRS terms).
constexpr double kGalacticPoleRa = 192.85948;
constexpr double kGalacticPoleDec = 27.12825;

double Sin(double d) { return std::sin(d * kRad); }
double Cos(double d) { return std::cos(d * kRad); }
double Asin(double v) { return std::asin(std::clamp(v, -1.0, 1.0)) / kRad; }

double Airmass(double zenith) {
    const double s = Sin(zenith);
    return 1.0 / std::sqrt(1.0 - 0.96 * s * s);
}

double VanRhijn(double zenith) {
    const double s = kLayerRatio * Sin(zenith);
    return 1.0 / std::sqrt(1.0 - s * s);
}

// The zodiacal light outside the atmosphere, S10, by elongation from the sun
// along the ecliptic and ecliptic latitude: through Leinert et al.'s (1998,
// table 17) values of about 260 in the ecliptic at 90 degrees, 160 at 135,
// the gegenschein's 180 opposite the sun and 60 at the ecliptic pole,
// steepening towards the sun; the latitude falls off exponentially.
double Zodiacal(double elongation, double latitude) {
    elongation = std::clamp(elongation, 15.0, 180.0);
    double ecliptic;
    if (elongation < 90.0) {
        ecliptic = 260.0 * std::pow(90.0 / elongation, 1.4);
    } else if (elongation < 135.0) {
        ecliptic = 260.0 - (elongation - 90.0) / 45.0 * 100.0;
    } else {
        ecliptic = 160.0 + (elongation - 135.0) / 45.0 * 20.0;
    }
    const double floor = std::exp(-3.0);
    const double fall = (std::exp(-std::fabs(latitude) / 30.0) - floor) / (1.0 - floor);
    return kZodiacalPole + (ecliptic - kZodiacalPole) * fall;
}

}  // namespace

double NightGlowMagnitude(double s10) { return kS10Magnitude - 2.5 * std::log10(std::max(s10, 1e-9)); }
double NightGlowFromMagnitude(double magnitude) { return std::pow(10.0, 0.4 * (kS10Magnitude - magnitude)); }
double NightGlowLuminance(double s10) { return 1.0637e5 * std::pow(10.0, -0.4 * NightGlowMagnitude(s10)); }

NightGlow NightGlowAt(const SkyMoment& moment, const SkyPlace& place, const NightGlowSettings& settings) {
    NightGlow g;
    g.latitude = place.latitude;
    g.localSiderealTime = SkyWrap360(moment.apparentSiderealTime + place.longitude);
    g.obliquity = moment.trueObliquity;
    g.sunLongitude = SunApparent(moment).longitude;
    g.placed = true;
    if (settings.zenithMagnitude > 0.0) {
        const double natural = NightGlowSampleAt(g, 90.0, 0.0).Total();
        g.artificialZenith = std::max(0.0, NightGlowFromMagnitude(settings.zenithMagnitude) - natural);
    }
    return g;
}

NightGlow NightGlowMean(const NightGlowSettings& settings) {
    NightGlow g;
    if (settings.zenithMagnitude > 0.0) {
        const double natural = NightGlowSampleAt(g, 90.0, 0.0).Total();
        g.artificialZenith = std::max(0.0, NightGlowFromMagnitude(settings.zenithMagnitude) - natural);
    }
    return g;
}

NightGlowSample NightGlowSampleAt(const NightGlow& g, double altitude, double azimuth) {
    altitude = std::max(altitude, 0.0);
    const double zenith = 90.0 - altitude;
    const double x = Airmass(zenith);
    const double throughAir = std::pow(10.0, -0.4 * kExtinction * x);
    NightGlowSample s;
    s.airglow = kAirglowZenith * VanRhijn(zenith) * std::pow(10.0, -0.4 * kExtinction * (x - 1.0));
    // A town's light is scattered in the air over the site: it brightens
    // towards the horizon as Krisciunas & Schaefer's uniformly lit air does.
    s.artificial = g.artificialZenith * x * std::pow(10.0, -0.4 * kExtinction * (x - 1.0));
    if (!g.placed) {
        s.zodiacal = kZodiacalPole * throughAir;
        s.starlight = kStarlightPole * throughAir;
        return s;
    }
    // The direction's equatorial place, then its ecliptic and galactic ones.
    const double phi = g.latitude;
    const double dec = Asin(Sin(phi) * Sin(altitude) + Cos(phi) * Cos(altitude) * Cos(azimuth));
    const double hourAngle =
        std::atan2(-Sin(azimuth) * Cos(altitude), Sin(altitude) * Cos(phi) - Cos(altitude) * Sin(phi) * Cos(azimuth)) /
        kRad;
    const double ra = g.localSiderealTime - hourAngle;
    const double eps = g.obliquity;
    const double lon = std::atan2(Sin(ra) * Cos(eps) + std::tan(dec * kRad) * Sin(eps), Cos(ra)) / kRad;
    const double lat = Asin(Sin(dec) * Cos(eps) - Cos(dec) * Sin(eps) * Sin(ra));
    const double elongation = std::fabs(std::remainder(lon - g.sunLongitude, 360.0));
    const double galactic =
        Asin(Sin(dec) * Sin(kGalacticPoleDec) + Cos(dec) * Cos(kGalacticPoleDec) * Cos(ra - kGalacticPoleRa));

    s.zodiacal = Zodiacal(elongation, lat) * throughAir;
    s.starlight =
        (kStarlightPole + kStarlightPlane * std::exp(-std::fabs(galactic) / kStarlightScaleHeight)) * throughAir;
    return s;
}

}  // namespace kv
