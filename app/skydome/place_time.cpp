#include "place_time.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/skydome/options.h"

namespace kv {

namespace {

bool LeapYear(int32 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32 DaysInYear(int32 year) { return LeapYear(year) ? 366 : 365; }

int32 DaysInMonth(int32 year, int32 month) {
    static const int32 days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : days[month - 1];
}

int32 DayOfYear(int32 year, int32 month, int32 day) {
    int32 n = day;
    for (int32 m = 1; m < month; ++m) n += DaysInMonth(year, m);
    return n;
}

std::string OffsetText(int32 minutes) {
    if (minutes == 0) return "Z";
    char text[16];
    const int32 a = minutes < 0 ? -minutes : minutes;
    std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', static_cast<int>(a / 60),
                  static_cast<int>(a % 60));
    return text;
}

}  // namespace

int32 ZoneOffsetMinutes(const std::string& zone, const SolarTime& t) {
    // The data display asks every frame: the zone's file is read again only
    // for another zone or another minute.
    static std::string lastZone;
    static SolarTime lastTime{};
    static int32 lastOffset = 0;
    static bool known = false;
    if (known && zone == lastZone && t.year == lastTime.year && t.month == lastTime.month && t.day == lastTime.day &&
        t.hour == lastTime.hour && t.minute == lastTime.minute && t.second == lastTime.second) {
        return lastOffset;
    }
    const char* before = std::getenv("TZ");
    const std::string saved = before != nullptr ? before : "";
    setenv("TZ", (":" + zone).c_str(), 1);
    tzset();
    std::tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = static_cast<int>(t.second);
    local.tm_isdst = -1;
    std::mktime(&local);
    const auto offset = static_cast<int32>(local.tm_gmtoff / 60);
    if (before != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    lastZone = zone;
    lastTime = t;
    lastOffset = offset;
    known = true;
    return offset;
}

PlaceTime PlaceTimeFromOptions(const SkydomeOptions& o) {
    PlaceTime p{};
    p.year = 2026;
    p.dayOfYear = 172;
    p.hours = 12.0f;
    if (!o.location || !o.time) return p;
    const SolarTime& t = o.moment;
    p.on = 1;
    p.latitude = static_cast<float>(o.latitude);
    p.longitude = static_cast<float>(o.longitude);
    p.year = t.year;
    // 24:00 is the next day's start.
    p.dayOfYear = DayOfYear(t.year, t.month, t.day);
    p.hours = static_cast<float>(t.hour) + static_cast<float>(t.minute) / 60.0f;
    p.zone = o.zone;
    p.offsetMinutes = t.offsetMinutes;
    return p;
}

double PlaceTimeLatitude(const PlaceTime& p) { return std::round(static_cast<double>(p.latitude) * 1e4) / 1e4; }

double PlaceTimeLongitude(const PlaceTime& p) { return std::round(static_cast<double>(p.longitude) * 1e4) / 1e4; }

SolarTime PlaceTimeMoment(const PlaceTime& p) {
    SolarTime t{};
    t.year = p.year;
    int32 day = p.dayOfYear;
    if (day < 1) day = 1;
    if (day > DaysInYear(p.year)) day = DaysInYear(p.year);
    auto minutes = static_cast<int32>(std::lround(static_cast<double>(p.hours) * 60.0));
    if (minutes < 0) minutes = 0;
    // The end of the day is the last minute of it: the day stays the one shown.
    if (minutes > 24 * 60 - 1) minutes = 24 * 60 - 1;
    t.month = 1;
    while (day > DaysInMonth(t.year, t.month)) day -= DaysInMonth(t.year, t.month++);
    t.day = day;
    t.hour = minutes / 60;
    t.minute = minutes % 60;
    t.second = 0.0;
    t.offsetMinutes = p.zone.empty() ? p.offsetMinutes : ZoneOffsetMinutes(p.zone, t);
    return t;
}

std::string PlaceTimeText(const PlaceTime& p) {
    const SolarTime t = PlaceTimeMoment(p);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", static_cast<int>(t.year), static_cast<int>(t.month),
                  static_cast<int>(t.day), static_cast<int>(t.hour), static_cast<int>(t.minute));
    return p.zone.empty() ? text + OffsetText(t.offsetMinutes) : std::string(text);
}

void PlaceTimeSun(const PlaceTime& p, double* zenith, float* programAzimuth) {
    const SolarPosition s =
        SolarCompute(PlaceTimeLatitude(p), PlaceTimeLongitude(p), SolarJulianDay(PlaceTimeMoment(p)));
    float azimuth = static_cast<float>(SolarProgramAzimuth(s.azimuth));
    if (azimuth >= 360.0f) azimuth = 0.0f;  // 359.99999... rounds up in single precision
    *zenith = s.zenith;
    *programAzimuth = azimuth;
}

SolarTime PlaceTimeNow(const std::string& zone) {
    const std::time_t now = std::time(nullptr);
    std::tm clock{};
    int32 offset = 0;
    if (zone.empty()) {
        gmtime_r(&now, &clock);
    } else {
        const char* before = std::getenv("TZ");
        const std::string saved = before != nullptr ? before : "";
        setenv("TZ", (":" + zone).c_str(), 1);
        tzset();
        localtime_r(&now, &clock);
        offset = static_cast<int32>(clock.tm_gmtoff / 60);
        if (before != nullptr) {
            setenv("TZ", saved.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    SolarTime t{};
    t.year = clock.tm_year + 1900;
    t.month = clock.tm_mon + 1;
    t.day = clock.tm_mday;
    t.hour = clock.tm_hour;
    t.minute = clock.tm_min;
    // To the minute, as the window keeps its moment: the settings it saves
    // then give the very sun it showed.
    t.second = 0.0;
    t.offsetMinutes = offset;
    return t;
}

std::string PlaceTimeIso(const SolarTime& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", static_cast<int>(t.year),
                  static_cast<int>(t.month), static_cast<int>(t.day), static_cast<int>(t.hour),
                  static_cast<int>(t.minute), static_cast<int>(t.second));
    return text + OffsetText(t.offsetMinutes);
}

}  // namespace kv
