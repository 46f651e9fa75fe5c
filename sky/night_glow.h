// The night sky's own light, without sun or moon: airglow, zodiacal light
// and the integrated light of the stars too faint to be drawn one by one, in
// the V band, after Leinert et al. (1998, "The 1997 reference of diffuse
// night sky brightness", A&AS 127, 1). At a dark site the moonless zenith
// comes to about 220 S10 (21.9 V mag/arcsec^2): airglow 145, zodiacal light
// 60 at the ecliptic pole, faint stars about 15 at high galactic latitude.
// A brighter site adds artificial light up to a zenith brightness the
// caller gives in V mag/arcsec^2.
//
// Brightness is kept in S10 units: one star of V = 10 per square degree
// (27.78 V mag/arcsec^2).
#pragma once

#include "ephemeris.h"

namespace kv {

// The brightest and the darkest zenith a site may be given, V mag/arcsec^2:
// a city centre, and a little darker than the darkest natural sky.
constexpr double kNightSkyBrightest = 14.0;
constexpr double kNightSkyDarkest = 22.5;

struct NightGlowSettings {
    // The moonless zenith of the site in V mag/arcsec^2; 0 for a dark site
    // (the natural sky alone). A value darker than the natural sky of the
    // moment adds nothing.
    double zenithMagnitude = 0.0;
};

// What one place and moment share: computed once, sampled per direction.
struct NightGlow {
    double latitude = 0.0;
    double localSiderealTime = 0.0;  // degrees
    double obliquity = 0.0;
    double sunLongitude = 0.0;      // the sun's ecliptic longitude, degrees
    double artificialZenith = 0.0;  // S10 added at the zenith by the site's own lights
    // False for a sky with no place and moment: the zodiacal light and the
    // faint stars are then their dark-sky values at the zenith everywhere.
    bool placed = false;
};

struct NightGlowSample {
    double airglow = 0.0;  // S10, as seen from the ground
    double zodiacal = 0.0;
    double starlight = 0.0;
    double artificial = 0.0;
    double Total() const { return airglow + zodiacal + starlight + artificial; }
};

NightGlow NightGlowAt(const SkyMoment& moment, const SkyPlace& place, const NightGlowSettings& settings);
// The glow of a sky without a place and a moment: the airglow as anywhere,
// the zodiacal light of the ecliptic pole and the faint stars of a high
// galactic latitude all over the sky, which gives the dark site's zenith.
NightGlow NightGlowMean(const NightGlowSettings& settings);
// The brightness towards a direction above the horizon (altitude, compass
// azimuth in degrees); below the horizon the values at the horizon.
NightGlowSample NightGlowSampleAt(const NightGlow& glow, double altitude, double azimuth);

// S10 to V mag/arcsec^2 and to luminance in cd/m^2. The luminance follows
// from the program's V = 0 point source of 2.5e-6 lux spread over one square
// arcsecond (2.3504e-11 sr): L = 1.0637e5 * 10^(-0.4 mu) cd/m^2.
double NightGlowMagnitude(double s10);
double NightGlowFromMagnitude(double magnitude);
double NightGlowLuminance(double s10);

}  // namespace kv
