// The frame work of positional astronomy that the moon, the planets and the
// stars share: time scales, the Earth's orientation (precession, nutation,
// sidereal time), the observer's place on the geoid, and refraction. All of
// it after Meeus, Astronomical Algorithms (2nd ed., 1998), chapter numbers
// beside each function. Angles are degrees unless a name says otherwise.
// Nothing here keeps state: a caller passes the place and the moment.
#pragma once

namespace kv {

// Where the observer stands: geodetic latitude (north positive) and
// longitude (east positive) in degrees, height above sea level in metres.
struct SkyPlace {
    double latitude = 0.0;
    double longitude = 0.0;
    double height = 0.0;
};

// A unit-free 3-vector for the coordinate frames below.
struct SkyVector {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// A direction on the observer's sky.
struct SkyHorizontal {
    double altitude = 0.0;      // degrees above the horizon, as seen (refracted)
    double trueAltitude = 0.0;  // degrees, the geometric altitude
    double azimuth = 0.0;       // compass degrees from north, clockwise, [0, 360)
};

// The Earth's orientation at one moment, computed once and shared by every
// body drawn at that moment.
struct SkyMoment {
    double julianDayUT = 0.0;
    double julianDayTT = 0.0;
    double centuriesTT = 0.0;        // Julian centuries of TT from J2000.0
    double nutationLongitude = 0.0;  // degrees (delta psi)
    double nutationObliquity = 0.0;  // degrees (delta epsilon)
    double meanObliquity = 0.0;
    double trueObliquity = 0.0;
    double apparentSiderealTime = 0.0;  // Greenwich, degrees [0, 360)
};

// TT - UT in seconds: the polynomials of Espenak & Meeus (2006, NASA's
// "Polynomial expressions for Delta T"), which span -1999 to +3000.
double SkyDeltaT(double decimalYear);
// The Earth's orientation at a moment given as a Julian day of UT.
SkyMoment SkyMomentAt(double julianDayUT);

// Ecliptic (of date) to equatorial (of date) longitude/latitude ->
// right ascension/declination, with the obliquity given (chapter 13).
void SkyEclipticToEquatorial(double longitude, double latitude, double obliquity, double* rightAscension,
                             double* declination);
// Precession of J2000.0 mean equatorial coordinates to the mean equator and
// equinox of a date (chapter 21, the rigorous method with zeta, z, theta).
void SkyPrecessFromJ2000(double centuriesTT, double rightAscension, double declination, double* outRa, double* outDec);
// Nutation in right ascension and declination (chapter 23, first order).
void SkyNutate(const SkyMoment& moment, double* rightAscension, double* declination);

// The geocentric direction (ra, dec, distance in Earth equatorial radii;
// distance 0 for "infinitely far") seen from the place: parallax by the
// observer's geocentric position on the reference ellipsoid (chapters 11 and
// 40), then the horizon (chapter 13) and refraction (chapter 16).
SkyHorizontal SkyTopocentric(const SkyMoment& moment, const SkyPlace& place, double rightAscension, double declination,
                             double distanceEarthRadii, double* topocentricRa = nullptr,
                             double* topocentricDec = nullptr);

// Refraction in degrees for a true altitude, a standard atmosphere of
// 1010 hPa and 10 degrees C: Saemundsson (1986, Sky & Telescope 72, 70),
// Meeus eq. 16.4; below -1 degree, where a body is out of sight, it fades
// out by -5 degrees.
double SkyRefraction(double trueAltitude);

// Angle between two directions given as (longitude, latitude) pairs.
double SkySeparation(double lon1, double lat1, double lon2, double lat2);
// Degrees wrapped into [0, 360).
double SkyWrap360(double degrees);

}  // namespace kv
