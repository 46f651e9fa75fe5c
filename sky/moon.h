// The moon for a place and a moment: its place from the truncated lunar
// theory ELP-2000/82 as Meeus gives it (Astronomical Algorithms, 2nd ed.,
// chapter 47, to about 10" in longitude and 4" in latitude), seen from the
// observer (parallax up to a degree, chapter 40) with refraction; its phase
// and the bright limb's direction (chapter 48); its brightness from
// Krisciunas & Schaefer (1991, "A model of the brightness of moonlight",
// PASP 103, 1033-1039, their eq. 9 for the magnitude).
#pragma once

#include "ephemeris.h"

namespace kv {

// Geocentric, ecliptic of date, without nutation: Meeus's lambda, beta and
// Delta before chapter 47's last step.
struct MoonGeocentric {
    double longitude = 0.0;  // degrees
    double latitude = 0.0;
    double distance = 0.0;  // km, centre to centre
};
MoonGeocentric MoonGeocentricAt(double julianDayTT);

struct MoonView {
    SkyHorizontal horizontal;
    double rightAscension = 0.0;  // topocentric apparent, degrees
    double declination = 0.0;
    double distance = 0.0;       // from the observer, km
    double angularRadius = 0.0;  // degrees, as seen from the observer
    double phaseAngle = 0.0;     // sun-moon-Earth, degrees
    double illuminatedFraction = 0.0;
    // Position angle of the bright limb's midpoint, degrees from the north
    // point of the disc towards the east (Meeus eq. 48.5): the side that
    // faces the sun.
    double brightLimbAngle = 0.0;
    double magnitude = 0.0;    // V, at the moon's distance
    double illuminance = 0.0;  // lux at the top of the atmosphere, on a surface facing the moon
    // East of the sun in ecliptic longitude: new moon to full, the lit part
    // growing.
    bool waxing = false;
};
MoonView MoonObserve(const SkyMoment& moment, const SkyPlace& place);
// The moon's V magnitude at a phase angle (degrees) and a distance from the
// observer (km): Krisciunas & Schaefer's eq. 9, scaled by the inverse square
// of the distance from their mean 384,400 km.
double MoonMagnitude(double phaseAngle, double distanceKm);

}  // namespace kv
