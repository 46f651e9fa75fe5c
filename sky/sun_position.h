// Where the sun stands for a place on Earth and a moment: the equations of
// NOAA's solar calculator (after Meeus, Astronomical Algorithms), with its
// correction for atmospheric refraction. Meant for the years 1901 to 2099;
// there the position is good to about 0.01 degrees away from the horizon.
//
// Compass azimuths run from north, clockwise seen from above. The program's
// azimuth runs from +z towards +x with y up; the dome is laid out with +z to
// the north and +x to the west (y up, right-handed, as viewers of the exports
// assume), so program azimuth = 360 - compass azimuth.
#pragma once

#include <string>

#include "engine/core/types.h"

namespace kv {

constexpr int32 kSolarFirstYear = 1901;
constexpr int32 kSolarLastYear = 2099;
// Local clocks run at most this far from UTC.
constexpr int32 kSolarMaxOffsetMinutes = 14 * 60;

// A moment as written in ISO 8601 with its UTC offset.
struct SolarTime {
    int32 year;
    int32 month;   // 1..12
    int32 day;     // 1..31
    int32 hour;    // 0..23
    int32 minute;  // 0..59
    double second;
    int32 offsetMinutes;  // east of UTC positive
};

// A moment as ISO 8601 and RFC 3339 write it: a date (YYYY-MM-DD, the day of
// the year YYYY-DDD, or the week date YYYY-Www-D, each also without its
// hyphens), "T" (or "t", or a space), a time HH:MM[:SS] (colons optional)
// with a decimal fraction ("." or ",") of its last part, 24:00 for the end
// of the day and :60 for a leap second (at 23:59:60 UTC on the last day of a
// month), then "Z" (or "z") or an offset "+HH:MM", "-HH:MM", "+HHMM" or
// "+HH". A moment without an offset is refused: it would mean a different
// sun in every time zone. False with *error saying what is wrong.
bool SolarParseTime(const char* text, SolarTime* out, std::string* error);
// The Julian day (UT, with its fraction) of the moment.
double SolarJulianDay(const SolarTime& time);
// The clock's own reading in seconds since 1970-01-01 00:00 on that clock
// (calendar arithmetic, the fraction of a second kept, the offset not
// applied): less 60 * offsetMinutes it is the moment in UTC.
double SolarClockSeconds(const SolarTime& time);

struct SolarPosition {
    double zenith;          // degrees, as seen: corrected for refraction
    double trueZenith;      // degrees, the geometric position
    double azimuth;         // compass degrees from north, clockwise, [0, 360)
    double declination;     // degrees
    double equationOfTime;  // minutes, apparent minus mean solar time
};

// Latitude in degrees north (-90..90), longitude in degrees east (-180..180).
SolarPosition SolarCompute(double latitude, double longitude, double julianDay);

// The program's azimuth, [0, 360), of a compass azimuth, and back.
double SolarProgramAzimuth(double compassAzimuth);
double SolarCompassAzimuth(double programAzimuth);

}  // namespace kv
