// A place and a moment as the window sets them: latitude and longitude, the
// day of the year and the time of day on a local clock, and where the sun
// stands then.
#pragma once

#include <string>

#include "engine/core/types.h"
#include "sky/sun_position.h"

namespace kv {

struct SkydomeOptions;

struct PlaceTime {
    int32 on;         // the sun follows the place and the moment (the menu's toggle)
    float latitude;   // degrees north, -90 to 90
    float longitude;  // degrees east, -180 to 180
    int32 year;
    int32 dayOfYear;  // 1 to 365 (366 in a leap year)
    float hours;      // time of day on the local clock, 0 to 24
    // The local clock: a zone of the tz database (its offset follows the
    // date), else a fixed offset east of UTC.
    std::string zone;
    int32 offsetMinutes;
};

// The UTC offset, in minutes east, of the tz database zone's clock when it
// reads t (the C library's reading of the database; the process's own TZ is
// put back).
int32 ZoneOffsetMinutes(const std::string& zone, const SolarTime& t);

// The place and moment the options give (--location, --time, --zone), on;
// without them, off at latitude 0, longitude 0, noon on the 172nd day of the
// year of the options' clock (the June solstice), in UTC.
PlaceTime PlaceTimeFromOptions(const SkydomeOptions& options);
// The place as it is used and written: to 4 decimals (about 11 m), so that a
// settings file gives back the same sun.
double PlaceTimeLatitude(const PlaceTime& p);
double PlaceTimeLongitude(const PlaceTime& p);
// The moment on the local clock, to the minute; the day of the year and the
// hours are brought into range first.
SolarTime PlaceTimeMoment(const PlaceTime& p);
// "2026-06-21T18:00" and, without a zone, its offset ("+02:00", "Z").
std::string PlaceTimeText(const PlaceTime& p);
// Where the sun stands: zenith angle (refracted) and the program's azimuth,
// in degrees.
void PlaceTimeSun(const PlaceTime& p, double* zenith, float* programAzimuth);

// The system clock's moment, to the minute (the seconds dropped), read on
// that zone's clock of the tz database (in UTC when the zone is empty).
SolarTime PlaceTimeNow(const std::string& zone);
// A moment as ISO 8601 with its UTC offset, as --time reads it back:
// "2026-06-21T18:00:05+02:00" ("Z" for UTC).
std::string PlaceTimeIso(const SolarTime& t);

}  // namespace kv
