// Solar positions against published values, the reading of ISO 8601 moments
// and the mapping of compass bearings onto the program's azimuth.
#include "app/skydome/sun_position.h"

#include <gtest/gtest.h>

#include <cmath>
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
        {"2026-06-21 18:00Z", "expected"},
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
        {"2026-06-21T24:00Z", "not a time of day"},
        {"2026-06-21T12:60Z", "not a time of day"},
        {"2026-06-21T12:00:60Z", "seconds"},
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
    EXPECT_TRUE(SolarParseTime("2024-02-29T12:00:00,25z", &t, &error) == false);  // a lower-case zone letter
    ASSERT_TRUE(SolarParseTime("2024-02-29T12:00:07,25Z", &t, &error)) << error;
    EXPECT_DOUBLE_EQ(t.second, 7.25);
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
