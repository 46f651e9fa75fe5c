// Solar positions against published values, the reading of ISO 8601 moments
// and the mapping of compass bearings onto the program's azimuth.
#include "sky/sun_position.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace kv {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;
// Every published position is met within this many degrees.
constexpr double kTolerance = 0.1;

SolarPosition At(const char* iso, double latitude, double longitude) {
    SolarTime t{};
    std::string error;
    EXPECT_TRUE(SolarParseTime(iso, &t, &error)) << iso << ": " << error;
    return SolarCompute(latitude, longitude, SolarJulianDay(t));
}

// Zenith angle and compass azimuth from a declination and an equation of
// time, by the spherical triangle of pole, zenith and sun.
void FromDeclination(double latitude, double longitude, double utMinutes, double declination, double eqTimeMinutes,
                     double* zenith, double* azimuth) {
    const double hourAngle = (utMinutes + eqTimeMinutes + 4.0 * longitude) / 4.0 - 180.0;
    const double phi = latitude * kRad;
    const double d = declination * kRad;
    const double h = hourAngle * kRad;
    *zenith = std::acos(std::sin(phi) * std::sin(d) + std::cos(phi) * std::cos(d) * std::cos(h)) / kRad;
    // Bearing of the sun from north, clockwise.
    const double a =
        std::atan2(-std::cos(d) * std::sin(h), std::sin(d) * std::cos(phi) - std::cos(d) * std::sin(phi) * std::cos(h));
    *azimuth = std::fmod(a / kRad + 360.0, 360.0);
}

TEST(SunPosition, SolarPositionAlgorithmReportsWorkedExample) {
    // NREL's Solar Position Algorithm report (Reda and Andreas, NREL/TP-560-34302),
    // its worked example: Golden, Colorado, 17 October 2003, 12:30:30 at UTC-7.
    // Topocentric zenith angle 50.11162, azimuth 194.34024 degrees. Its
    // refraction is for 820 mbar and 11 C, NOAA's for a standard atmosphere:
    // they differ by well under 0.01 degrees at this height.
    const SolarPosition p = At("2003-10-17T12:30:30-07:00", 39.742476, -105.1786);
    EXPECT_NEAR(p.zenith, 50.11162, kTolerance);
    EXPECT_NEAR(p.azimuth, 194.34024, kTolerance);
    EXPECT_NEAR(p.zenith, 50.11162, 0.02);  // what the equations actually achieve
    EXPECT_NEAR(p.azimuth, 194.34024, 0.02);
}

TEST(SunPosition, MeeusSolarCoordinatesAtThreePlaces) {
    // Meeus, Astronomical Algorithms (2nd ed.): for 1992 October 13.0 TD the
    // sun's apparent declination is -7.78507 degrees (example 25.a) and the
    // equation of time +3.427351 degrees = 13.70940 minutes (example 28.a).
    // 0h TD was 23:59:01 UT (delta T about 59 s in 1992).
    constexpr double kDeclination = -7.78507;
    constexpr double kEquationOfTime = 13.70940;
    constexpr double kUtMinutes = 23 * 60 + 59 + 1.0 / 60.0;
    struct Place {
        const char* name;
        double latitude, longitude;
    };
    const Place places[] = {
        {"Tokyo, 09:59 local", 35.6895, 139.6917},
        {"Sydney, 10:59 local", -33.8688, 151.2093},
        {"Honolulu, 13:59 local", 21.3069, -157.8583},
        {"Cape Town, 01:59 local (below the horizon)", -33.9249, 18.4241},
    };
    for (const Place& place : places) {
        const SolarPosition p = At("1992-10-12T23:59:01Z", place.latitude, place.longitude);
        EXPECT_NEAR(p.declination, kDeclination, 0.01) << place.name;
        EXPECT_NEAR(p.equationOfTime, kEquationOfTime, 0.05) << place.name;
        double zenith = 0.0;
        double azimuth = 0.0;
        FromDeclination(place.latitude, place.longitude, kUtMinutes, kDeclination, kEquationOfTime, &zenith, &azimuth);
        EXPECT_NEAR(p.trueZenith, zenith, kTolerance) << place.name;
        EXPECT_NEAR(p.azimuth, azimuth, kTolerance) << place.name;
    }
}

TEST(SunPosition, PolesAtTheSeasonsOf2024) {
    // The US Naval Observatory's times of the seasons for 2024 (UT). At a
    // pole the sun's elevation is its declination: zero at an equinox, the
    // obliquity of the ecliptic (23.4386 degrees in 2024 with nutation) at a
    // solstice, seen from the pole whose summer it is.
    constexpr double kObliquity = 23.4386;
    struct Season {
        const char* moment;
        double latitude;
        double zenith;
    };
    const Season seasons[] = {
        {"2024-03-20T03:06Z", 90.0, 90.0},
        {"2024-06-20T20:51Z", 90.0, 90.0 - kObliquity},
        {"2024-09-22T12:44Z", -90.0, 90.0},
        {"2024-12-21T09:20Z", -90.0, 90.0 - kObliquity},
        {"2024-12-21T09:20Z", 90.0, 90.0 + kObliquity},
    };
    for (const Season& s : seasons) {
        for (double longitude : {0.0, 100.0, -170.0}) {
            const SolarPosition p = At(s.moment, s.latitude, longitude);
            EXPECT_NEAR(p.trueZenith, s.zenith, kTolerance) << s.moment << " " << s.latitude;
            EXPECT_NEAR(p.trueZenith, s.zenith, 0.01) << s.moment << " " << s.latitude;
        }
    }
}

// Near a pole the bearing turns with the hour, a quarter turn every six hours,
// up to the pole itself (there north is taken along the given meridian). At
// midnight UTC on the meridian of Greenwich the sun stands over the opposite
// one: due north seen from the north, due south from the south.
TEST(SunPosition, TheBearingTurnsWithTheHourUpToThePoles) {
    struct Pole {
        double latitude;
        const char* day;
        double azimuthAtMidnight;
        double turn;  // degrees per six hours, clockwise seen from above
    };
    const Pole poles[] = {
        {89.99, "2024-06-21", 0.0, 90.0},
        {90.0, "2024-06-21", 0.0, 90.0},
        {-89.99, "2024-12-21", 180.0, -90.0},
        {-90.0, "2024-12-21", 180.0, -90.0},
    };
    for (const Pole& pole : poles) {
        for (int hour = 0; hour < 24; hour += 6) {
            char moment[32];
            std::snprintf(moment, sizeof moment, "%sT%02d:00Z", pole.day, hour);
            const SolarPosition p = At(moment, pole.latitude, 0.0);
            const double expected = std::fmod(pole.azimuthAtMidnight + pole.turn * hour / 6 + 720.0, 360.0);
            // The equation of time puts the sun a few minutes off the hour.
            const double off = std::fabs(std::remainder(p.azimuth - expected, 360.0));
            EXPECT_LT(off, 1.0) << pole.latitude << " " << moment << ": " << p.azimuth;
            // A kilometre short of the pole the bearing is the pole's own
            // within a tenth of a degree: it neither jumps nor freezes.
            const SolarPosition at = At(moment, pole.latitude > 0 ? 90.0 : -90.0, 0.0);
            EXPECT_LT(std::fabs(std::remainder(p.azimuth - at.azimuth, 360.0)), 0.1) << moment;
            EXPECT_NEAR(p.trueZenith, 90.0 - std::fabs(p.declination), 0.02) << moment;
        }
    }
}

TEST(SunPosition, RefractionLiftsTheSunMostNearTheHorizon) {
    // Refraction tables for a standard atmosphere give about half a degree
    // at the horizon (29 to 35 arc minutes) and about 1 arc minute at 45
    // degrees.
    const SolarPosition low = At("2024-03-20T03:06Z", 90.0, 0.0);
    EXPECT_NEAR(low.trueZenith - low.zenith, 0.5, 0.1);
    const SolarPosition golden = At("2003-10-17T12:30:30-07:00", 39.742476, -105.1786);
    EXPECT_GT(golden.trueZenith - golden.zenith, 0.5 / 60.0);
    EXPECT_LT(golden.trueZenith - golden.zenith, 1.5 / 60.0);
}

TEST(SunTime, MomentsWithOffsetsAreJulianDaysInUniversalTime) {
    // J2000.0 is JD 2451545.0; Meeus example 7.a: 1957 October 4.81 is JD 2436116.31.
    const auto jd = [](const char* iso) {
        SolarTime t{};
        std::string error;
        EXPECT_TRUE(SolarParseTime(iso, &t, &error)) << iso << ": " << error;
        return SolarJulianDay(t);
    };
    EXPECT_DOUBLE_EQ(jd("2000-01-01T12:00Z"), 2451545.0);
    EXPECT_DOUBLE_EQ(jd("2000-01-01T14:00+02:00"), 2451545.0);
    EXPECT_DOUBLE_EQ(jd("2000-01-01T14:00+0200"), 2451545.0);
    EXPECT_DOUBLE_EQ(jd("2000-01-01T07:00-05"), 2451545.0);
    EXPECT_DOUBLE_EQ(jd("2000-01-01T17:30+05:30"), 2451545.0);
    EXPECT_NEAR(jd("1957-10-04T19:26:24Z"), 2436116.31, 1e-6);
    // An offset can move the moment into another day, month and year.
    EXPECT_DOUBLE_EQ(jd("2000-01-01T01:00+14:00"), jd("1999-12-31T11:00Z"));
    EXPECT_NEAR(jd("2024-02-29T23:59:59.5Z") - jd("2024-02-29T00:00Z"), 86399.5 / 86400.0, 1e-9);
}

TEST(SunTime, MalformedImpossibleOrUnzonedMomentsAreRefusedWithAReason) {
    struct Bad {
        const char* text;
        const char* reason;  // a part of the message
    };
    const Bad cases[] = {
        {"2026-06-21T18:00", "no UTC offset"},
        {"2026-06-21", "expected"},
        {"2026-6-21T18:00Z", "expected"},
        {"2026-06-21_18:00Z", "expected"},
        {"2026-06-21  18:00Z", "expected"},
        {"2026-06-21T18:00+02:", "expected"},
        {"2026-06-21T18:00+2", "expected"},
        {"2026-06-21T18:00:5Z", "expected"},
        {"2026-06-21T18:00:05.Z", "expected"},
        {"2026-06-21T18:00Zjunk", "expected"},
        {"2026-06-21T18:00+15:00", "not a time zone"},
        {"2026-06-21T18:00+02:60", "not a time zone"},
        {"2026-02-29T12:00Z", "not a date"},
        {"2026-13-01T12:00Z", "not a date"},
        {"2026-04-31T12:00Z", "not a date"},
        {"2026-06-21T24:01Z", "not a time of day"},
        {"2026-06-21T24:00:00.5Z", "not a time of day"},
        {"2026-06-21T12:60Z", "not a time of day"},
        {"2026-06-21T12:00:60Z", "leap second"},
        {"2016-12-31T23:59:61Z", "seconds"},
        {"2016-12-31T23:59:60+01:00", "leap second"},
        {"2026-366T12:00Z", "not a date"},
        {"2025-W53-1T12:00Z", "not a date"},
        {"2026-W00-1T12:00Z", "not a date"},
        {"2026-W01-8T12:00Z", "not a date"},
        {"1900-06-21T12:00Z", "1901 to 2099"},
        {"2100-06-21T12:00Z", "1901 to 2099"},
        {"", "expected"},
    };
    for (const Bad& c : cases) {
        SolarTime t{};
        std::string error;
        EXPECT_FALSE(SolarParseTime(c.text, &t, &error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
    }
    SolarTime t{};
    std::string error;
    EXPECT_FALSE(SolarParseTime(nullptr, &t, &error));
    ASSERT_TRUE(SolarParseTime("2024-02-29T12:00:07,25Z", &t, &error)) << error;
    EXPECT_DOUBLE_EQ(t.second, 7.25);
}

TEST(SunTime, EveryFormOfIso8601AndRfc3339IsTheMomentItNames) {
    const auto jd = [](const char* iso) {
        SolarTime t{};
        std::string error;
        EXPECT_TRUE(SolarParseTime(iso, &t, &error)) << iso << ": " << error;
        return SolarJulianDay(t);
    };
    constexpr double kSecond = 1.0 / 86400.0;
    // RFC 3339's own examples (section 5.8), leap seconds included.
    EXPECT_NEAR(jd("1985-04-12T23:20:50.52Z"), jd("1985-04-12T23:20:50Z") + 0.52 * kSecond, 1e-9);
    EXPECT_DOUBLE_EQ(jd("1996-12-19T16:39:57-08:00"), jd("1996-12-20T00:39:57Z"));
    EXPECT_DOUBLE_EQ(jd("1990-12-31T23:59:60Z"), jd("1991-01-01T00:00Z"));
    EXPECT_DOUBLE_EQ(jd("1990-12-31T15:59:60-08:00"), jd("1991-01-01T00:00Z"));
    EXPECT_NEAR(jd("1937-01-01T12:00:27.87+00:20"), jd("1937-01-01T11:40:27.87Z"), 1e-9);
    // A leap second a day apart in local time; the end of June too.
    EXPECT_DOUBLE_EQ(jd("2017-01-01T00:59:60+01:00"), jd("2017-01-01T00:00Z"));
    EXPECT_DOUBLE_EQ(jd("2015-06-30T23:59:60.5Z"), jd("2015-07-01T00:00:00.5Z"));
    // Lower-case letters and a space, as RFC 3339 allows.
    EXPECT_DOUBLE_EQ(jd("2026-06-21t18:00z"), jd("2026-06-21T18:00Z"));
    EXPECT_DOUBLE_EQ(jd("2026-06-21 18:00+02:00"), jd("2026-06-21T16:00Z"));
    // A fraction that rounds to 60 in a double is still within its second.
    SolarTime t{};
    std::string error;
    ASSERT_TRUE(SolarParseTime("2024-02-29T23:59:59.99999999999999999999Z", &t, &error)) << error;
    EXPECT_EQ(t.minute, 59);
    EXPECT_LT(t.second, 60.0);
    EXPECT_GT(t.second, 59.999999);
    // ISO 8601's basic format, reduced precision, fractions of the last part
    // given, and the end of the day.
    EXPECT_DOUBLE_EQ(jd("20260621T180000Z"), jd("2026-06-21T18:00Z"));
    EXPECT_DOUBLE_EQ(jd("20260621T1830+0200"), jd("2026-06-21T16:30Z"));
    EXPECT_DOUBLE_EQ(jd("2026-06-21T18Z"), jd("2026-06-21T18:00Z"));
    EXPECT_NEAR(jd("2026-06-21T18.5Z"), jd("2026-06-21T18:30Z"), 1e-9);
    EXPECT_NEAR(jd("2026-06-21T18:30,5Z"), jd("2026-06-21T18:30:30Z"), 1e-9);
    EXPECT_DOUBLE_EQ(jd("2026-06-21T24:00Z"), jd("2026-06-22T00:00Z"));
    EXPECT_DOUBLE_EQ(jd("2024-02-29T24:00:00Z"), jd("2024-03-01T00:00Z"));
    // Ordinal and week dates: 21 June 2026 is day 172, the Sunday of week 25;
    // 29 December 2008 is the Monday of week 1 of 2009, and 3 January 2010
    // the Sunday of week 53 of 2009.
    EXPECT_DOUBLE_EQ(jd("2026-172T12:00Z"), jd("2026-06-21T12:00Z"));
    EXPECT_DOUBLE_EQ(jd("2026172T12:00Z"), jd("2026-06-21T12:00Z"));
    EXPECT_DOUBLE_EQ(jd("2024-366T12:00Z"), jd("2024-12-31T12:00Z"));
    EXPECT_DOUBLE_EQ(jd("2026-W25-7T12:00Z"), jd("2026-06-21T12:00Z"));
    EXPECT_DOUBLE_EQ(jd("2026W257T12:00Z"), jd("2026-06-21T12:00Z"));
    EXPECT_DOUBLE_EQ(jd("2009-W01-1T00:00Z"), jd("2008-12-29T00:00Z"));
    EXPECT_DOUBLE_EQ(jd("2009-W53-7T00:00Z"), jd("2010-01-03T00:00Z"));
}

TEST(SunAzimuth, CompassBearingsMapOntoTheProgramsAzimuth) {
    // +z is north and +x west: east is 270 in the program, west 90.
    EXPECT_DOUBLE_EQ(SolarProgramAzimuth(0.0), 0.0);
    EXPECT_DOUBLE_EQ(SolarProgramAzimuth(90.0), 270.0);
    EXPECT_DOUBLE_EQ(SolarProgramAzimuth(180.0), 180.0);
    EXPECT_DOUBLE_EQ(SolarProgramAzimuth(270.0), 90.0);
    EXPECT_DOUBLE_EQ(SolarProgramAzimuth(359.5), 0.5);
    EXPECT_DOUBLE_EQ(SolarProgramAzimuth(360.0), 0.0);
    for (double a = 0.0; a < 360.0; a += 7.25) {
        const double p = SolarProgramAzimuth(a);
        EXPECT_GE(p, 0.0);
        EXPECT_LT(p, 360.0);
        EXPECT_NEAR(SolarCompassAzimuth(p), a, 1e-9);
    }
}

}  // namespace
}  // namespace kv
