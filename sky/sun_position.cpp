#include "sun_position.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>

namespace kv {

namespace {

using std::numbers::pi;
constexpr double kRad = pi / 180.0;

double Sin(double degrees) { return std::sin(degrees * kRad); }
double Cos(double degrees) { return std::cos(degrees * kRad); }

bool LeapYear(int32 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32 DaysInMonth(int32 y, int32 m) {
    static const int32 days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// n decimal digits at *p, advancing it.
bool Digits(const char** p, int n, int32* out) {
    int32 v = 0;
    for (int i = 0; i < n; ++i) {
        if (!IsDigit((*p)[i])) return false;
        v = v * 10 + ((*p)[i] - '0');
    }
    *p += n;
    *out = v;
    return true;
}

std::string Text(const char* format, int32 a, int32 b = 0, int32 c = 0) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return buffer;
}

// Atmospheric refraction in degrees for a geometric elevation, as NOAA's
// calculator estimates it for a standard atmosphere.
double Refraction(double elevation) {
    if (elevation > 85.0) return 0.0;
    const double t = std::tan(elevation * kRad);
    double arcSeconds;
    if (elevation > 5.0) {
        arcSeconds = 58.1 / t - 0.07 / (t * t * t) + 0.000086 / (t * t * t * t * t);
    } else if (elevation > -0.575) {
        const double e = elevation;
        arcSeconds = 1735.0 + e * (-518.2 + e * (103.4 + e * (-12.79 + e * 0.711)));
    } else {
        arcSeconds = -20.774 / t;
    }
    return arcSeconds / 3600.0;
}

}  // namespace

namespace {

constexpr const char* kForm =
    "expected a date and time as ISO 8601 writes them, YYYY-MM-DDTHH:MM[:SS[.fff]], and a UTC offset, for "
    "example 2026-06-21T18:00+02:00";

int32 DaysInYear(int32 y) { return LeapYear(y) ? 366 : 365; }

// The month and day of a day of the year (1 up to DaysInYear).
void FromOrdinal(int32 year, int32 ordinal, SolarTime* t) {
    t->year = year;
    t->month = 1;
    while (ordinal > DaysInMonth(year, t->month)) ordinal -= DaysInMonth(year, t->month++);
    t->day = ordinal;
}

// Monday 0 to Sunday 6.
int32 Weekday(int32 year, int32 month, int32 day) {
    const SolarTime midnight{year, month, day, 0, 0, 0.0, 0};
    return static_cast<int32>(static_cast<int64_t>(std::floor(SolarJulianDay(midnight) + 0.5)) % 7);
}

// ISO 8601 week dates: week 1 is the one that holds 4 January; a week belongs
// to the year that holds its Thursday.
bool FromWeekDate(int32 year, int32 week, int32 weekday, SolarTime* t) {
    const int32 firstMonday = 4 - Weekday(year, 1, 4);
    const int32 thursday = firstMonday + (week - 1) * 7 + 3;
    if (week < 1 || weekday < 1 || weekday > 7 || thursday < 1 || thursday > DaysInYear(year)) return false;
    int32 ordinal = firstMonday + (week - 1) * 7 + (weekday - 1);
    if (ordinal < 1) {
        --year;
        ordinal += DaysInYear(year);
    } else if (ordinal > DaysInYear(year)) {
        ordinal -= DaysInYear(year);
        ++year;
    }
    FromOrdinal(year, ordinal, t);
    return true;
}

// The digits that follow, without moving.
int32 DigitRun(const char* p) {
    int32 n = 0;
    while (IsDigit(p[n])) ++n;
    return n;
}

// A separator that the extended format writes and the basic one leaves out.
void Skip(const char** p, char c) {
    if (**p == c) ++*p;
}

// A calendar date (YYYY-MM-DD), an ordinal date (YYYY-DDD) or a week date
// (YYYY-Www-D), each also without its hyphens. 0: malformed; -1: no such date.
int32 ReadDate(const char** p, SolarTime* t) {
    int32 year = 0;
    if (!Digits(p, 4, &year)) return 0;
    Skip(p, '-');
    t->year = year;
    if (**p == 'W') {
        ++*p;
        int32 week = 0, weekday = 0;
        if (!Digits(p, 2, &week)) return 0;
        Skip(p, '-');
        if (!Digits(p, 1, &weekday)) return 0;
        return FromWeekDate(year, week, weekday, t) ? 1 : -1;
    }
    // After the year a run of three digits is a day of the year.
    if (DigitRun(*p) == 3) {
        int32 ordinal = 0;
        Digits(p, 3, &ordinal);
        if (ordinal < 1 || ordinal > DaysInYear(year)) return -1;
        FromOrdinal(year, ordinal, t);
        return 1;
    }
    if (!Digits(p, 2, &t->month)) return 0;
    Skip(p, '-');
    return Digits(p, 2, &t->day) ? 1 : 0;
}

// A decimal fraction after ',' or '.', of which nine digits count: more only
// rounded 59.9999999999 up to 60.
bool ReadFraction(const char** p, double* fraction) {
    *fraction = 0.0;
    if (**p != '.' && **p != ',') return true;
    ++*p;
    if (!IsDigit(**p)) return false;
    int64_t nanos = 0;
    int32 n = 0;
    for (; IsDigit(**p); ++*p, ++n) {
        if (n < 9) nanos = nanos * 10 + (**p - '0');
    }
    for (; n < 9; ++n) nanos *= 10;
    *fraction = static_cast<double>(nanos) * 1e-9;
    return true;
}

// The next component of a time, after its colon when there is one: false
// when none follows.
bool NextComponent(const char** p) {
    const char* q = *p;
    Skip(&q, ':');
    if (!IsDigit(*q)) return false;
    *p = q;
    return true;
}

// HH[:MM[:SS]] (colons optional), with a decimal fraction of the last one
// given.
bool ReadClock(const char** p, SolarTime* t) {
    t->minute = 0;
    t->second = 0.0;
    double fraction = 0.0;
    if (!Digits(p, 2, &t->hour)) return false;
    if (!NextComponent(p)) {
        if (!ReadFraction(p, &fraction)) return false;
        const double seconds = fraction * 3600.0;
        t->minute = static_cast<int32>(seconds / 60.0);
        t->second = seconds - t->minute * 60.0;
        return true;
    }
    if (!Digits(p, 2, &t->minute)) return false;
    if (!NextComponent(p)) {
        if (!ReadFraction(p, &fraction)) return false;
        t->second = fraction * 60.0;
        return true;
    }
    int32 whole = 0;
    if (!Digits(p, 2, &whole) || !ReadFraction(p, &fraction)) return false;
    t->second = whole + fraction;
    return true;
}

// A leap second is the 61st second of 23:59 UTC on the last day of a month.
bool LeapSecondAllowed(const SolarTime& t) {
    const int32 utc = t.hour * 60 + t.minute - t.offsetMinutes;
    if (utc == 23 * 60 + 59) return t.day == DaysInMonth(t.year, t.month);
    if (utc == 23 * 60 + 59 - 1440) return t.day == 1;                                 // the day before
    if (utc == 23 * 60 + 59 + 1440) return t.day + 1 == DaysInMonth(t.year, t.month);  // the day after
    return false;
}

}  // namespace

bool SolarParseTime(const char* text, SolarTime* out, std::string* error) {
    if (text == nullptr) {
        *error = kForm;
        return false;
    }
    const char* p = text;
    SolarTime t{};
    const int32 date = ReadDate(&p, &t);
    if (date == 0) {
        *error = kForm;
        return false;
    }
    // RFC 3339 lets a space stand for the T, and either may be lower case.
    if (*p != 'T' && *p != 't' && *p != ' ') {
        *error = kForm;
        return false;
    }
    ++p;
    if (!ReadClock(&p, &t)) {
        *error = kForm;
        return false;
    }
    if (*p == 'Z' || *p == 'z') {
        ++p;
        t.offsetMinutes = 0;
    } else if (*p == '+' || *p == '-') {
        const int32 sign = *p++ == '-' ? -1 : 1;
        int32 hours = 0;
        int32 minutes = 0;
        if (!Digits(&p, 2, &hours)) {
            *error = kForm;
            return false;
        }
        // "+HH:MM", "+HHMM" or "+HH".
        const bool colon = *p == ':';
        if (colon) ++p;
        if ((colon || *p != '\0') && !Digits(&p, 2, &minutes)) {
            *error = kForm;
            return false;
        }
        if (minutes > 59 || hours * 60 + minutes > kSolarMaxOffsetMinutes) {
            *error = Text("the UTC offset %02d:%02d is not a time zone (at most 14:00 either way)", hours, minutes);
            return false;
        }
        t.offsetMinutes = sign * (hours * 60 + minutes);
    } else if (*p == '\0') {
        *error = "the time has no UTC offset: add Z for UTC or the offset of the local clock, for example +02:00";
        return false;
    }
    if (*p != '\0') {
        *error = kForm;
        return false;
    }
    if (t.year < kSolarFirstYear || t.year > kSolarLastYear) {
        *error = Text("the year %d is outside %d to %d, the years the solar equations are meant for", t.year,
                      kSolarFirstYear, kSolarLastYear);
        return false;
    }
    if (date < 0) {
        *error = "the day of the year or the week in " + std::string(text) + " is not a date of that year";
        return false;
    }
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month)) {
        *error = Text("%04d-%02d-%02d is not a date", t.year, t.month, t.day);
        return false;
    }
    // 24:00 is the end of the day, the midnight that starts the next.
    const bool endOfDay = t.hour == 24 && t.minute == 0 && t.second == 0.0;
    if ((t.hour > 23 && !endOfDay) || t.minute > 59) {
        *error = Text("%02d:%02d is not a time of day", t.hour, t.minute);
        return false;
    }
    if (t.second >= 60.0 && (t.second >= 61.0 || !LeapSecondAllowed(t))) {
        *error =
            "a minute has seconds 0 to 59; the 60th is a leap second, which comes only at 23:59:60 UTC on the "
            "last day of a month";
        return false;
    }
    *out = t;
    return true;
}

double SolarClockSeconds(const SolarTime& time) {
    std::tm clock{};
    clock.tm_year = time.year - 1900;
    clock.tm_mon = time.month - 1;
    clock.tm_mday = time.day;
    clock.tm_hour = time.hour;
    clock.tm_min = time.minute;
    return static_cast<double>(timegm(&clock)) + time.second;
}

double SolarJulianDay(const SolarTime& time) {
    int32 y = time.year;
    int32 m = time.month;
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    const int32 a = y / 100;
    const int32 b = 2 - a + a / 4;  // the Gregorian calendar's correction
    const double day = std::floor(365.25 * (y + 4716)) + std::floor(30.6001 * (m + 1)) + time.day + b - 1524.5;
    const double seconds = time.hour * 3600.0 + time.minute * 60.0 + time.second - time.offsetMinutes * 60.0;
    return day + seconds / 86400.0;
}

SolarPosition SolarCompute(double latitude, double longitude, double julianDay) {
    // Julian centuries since J2000.0.
    const double T = (julianDay - 2451545.0) / 36525.0;
    const double L0 = std::fmod(280.46646 + T * (36000.76983 + T * 0.0003032), 360.0);  // mean longitude
    const double M = 357.52911 + T * (35999.05029 - 0.0001537 * T);                     // mean anomaly
    const double e = 0.016708634 - T * (0.000042037 + 0.0000001267 * T);                // orbit's eccentricity
    const double C = Sin(M) * (1.914602 - T * (0.004817 + 0.000014 * T)) + Sin(2.0 * M) * (0.019993 - 0.000101 * T) +
                     Sin(3.0 * M) * 0.000289;  // equation of the centre
    const double trueLongitude = L0 + C;
    const double omega = 125.04 - 1934.136 * T;
    const double lambda = trueLongitude - 0.00569 - 0.00478 * Sin(omega);  // apparent longitude
    const double meanObliquity = 23.0 + (26.0 + (21.448 - T * (46.815 + T * (0.00059 - T * 0.001813))) / 60.0) / 60.0;
    const double obliquity = meanObliquity + 0.00256 * Cos(omega);
    const double declination = std::asin(std::clamp(Sin(obliquity) * Sin(lambda), -1.0, 1.0)) / kRad;

    const double y = std::tan(obliquity * kRad / 2.0) * std::tan(obliquity * kRad / 2.0);
    const double eqTime = 4.0 / kRad *
                          (y * Sin(2.0 * L0) - 2.0 * e * Sin(M) + 4.0 * e * y * Sin(M) * Cos(2.0 * L0) -
                           0.5 * y * y * Sin(4.0 * L0) - 1.25 * e * e * Sin(2.0 * M));

    // Minutes past midnight UT, then true solar time at the longitude.
    const double dayFraction = julianDay + 0.5 - std::floor(julianDay + 0.5);
    double trueSolarTime = std::fmod(dayFraction * 1440.0 + eqTime + 4.0 * longitude, 1440.0);
    if (trueSolarTime < 0.0) trueSolarTime += 1440.0;
    double hourAngle = trueSolarTime / 4.0 - 180.0;
    if (hourAngle < -180.0) hourAngle += 360.0;

    const double cosZenith =
        std::clamp(Sin(latitude) * Sin(declination) + Cos(latitude) * Cos(declination) * Cos(hourAngle), -1.0, 1.0);
    const double zenith = std::acos(cosZenith) / kRad;

    // The bearing from the sun's east and north components in the horizon
    // frame (Meeus, Astronomical Algorithms, 2nd ed. 1998, chapter 13, the
    // azimuth by its tangent): defined up to the poles, where the acos of the
    // NOAA sheet divides by cos(latitude) sin(zenith) and loses the hour.
    // At a pole itself north is taken along the given meridian, the limit
    // of coming up to it there.
    const double east = -Cos(declination) * Sin(hourAngle);
    const double north = Cos(latitude) * Sin(declination) - Sin(latitude) * Cos(declination) * Cos(hourAngle);
    double azimuth = std::atan2(east, north) / kRad;
    azimuth = std::fmod(azimuth + 360.0, 360.0);

    SolarPosition p;
    p.trueZenith = zenith;
    p.zenith = zenith - Refraction(90.0 - zenith);
    p.azimuth = azimuth;
    p.declination = declination;
    p.equationOfTime = eqTime;
    return p;
}

double SolarProgramAzimuth(double compassAzimuth) {
    double a = std::fmod(360.0 - compassAzimuth, 360.0);
    if (a < 0.0) a += 360.0;
    return a >= 360.0 ? 0.0 : a;
}

double SolarCompassAzimuth(double programAzimuth) { return SolarProgramAzimuth(programAzimuth); }

}  // namespace kv
