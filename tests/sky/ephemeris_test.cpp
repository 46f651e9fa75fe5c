// The moon, the planets and the stars against the worked examples of Meeus,
// Astronomical Algorithms (2nd ed., 1998), and the star catalogue's file
// against damage. scripts/night-check compares them with an independent
// ephemeris over 1950-2090.
#include "sky/ephemeris.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sky/moon.h"
#include "sky/night_glow.h"
#include "sky/planet_series.h"
#include "sky/planets.h"
#include "sky/stars.h"

namespace kv {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;

// The moment whose TT is the given Julian day (Meeus's examples are in TD).
SkyMoment AtTT(double julianDayTT) {
    const double year = 2000.0 + (julianDayTT - 2451545.0) / 365.25;
    return SkyMomentAt(julianDayTT - SkyDeltaT(year) / 86400.0);
}

TEST(Ephemeris, MeetsMeeussWorkedExamples) {
    // Example 12.a: sidereal time at Greenwich, 1987 April 10, 0h UT:
    // apparent 13h10m46.1351s.
    EXPECT_NEAR(SkyMomentAt(2446895.5).apparentSiderealTime, (13.0 + 10.0 / 60 + 46.1351 / 3600) * 15.0, 2e-4);

    // Example 21.b: theta Persei, its J2000 place moved by its proper motion
    // to the date, precessed to 2028 November 13.19 TD (t = 0.288670500).
    double ra = 0.0, dec = 0.0;
    SkyPrecessFromJ2000(0.288670500, 41.054063, 49.227750, &ra, &dec);
    EXPECT_NEAR(ra, 41.547214, 2e-4);
    EXPECT_NEAR(dec, 49.348483, 2e-4);
    // The catalogue's stars are placed by one rotation a moment; it puts
    // them where precession, nutation and the horizon taken one star at a
    // time do, north and south, at both ends of the years the sky holds.
    const std::vector<CatalogueStar> stars{{41.054063, 49.227750, 3.0, 1}, {250.0, -62.5, 2.0, 2}, {5.0, 84.0, 4.0, 3}};
    for (const double day : {2433282.5, 2461000.25, 2484000.75}) {
        for (const SkyPlace& place : {SkyPlace{48.1, 11.6, 0.0}, SkyPlace{-33.9, 151.2, 50.0}}) {
            const SkyMoment m = SkyMomentAt(day);
            std::vector<StarView> seen;
            StarsObserve(stars, m, place, &seen);
            for (std::size_t i = 0; i < stars.size(); ++i) {
                double r = 0.0, d = 0.0;
                SkyPrecessFromJ2000(m.centuriesTT, stars[i].rightAscension, stars[i].declination, &r, &d);
                SkyNutate(m, &r, &d);
                const SkyHorizontal h = SkyTopocentric(m, place, r, d, 0.0);
                EXPECT_NEAR(seen[i].horizontal.altitude, h.altitude, 1e-5) << day << " " << i;
                EXPECT_NEAR(std::remainder(seen[i].horizontal.azimuth - h.azimuth, 360.0), 0.0,
                            1e-5 / std::max(std::cos(h.trueAltitude * kRad), 1e-3))
                    << day << " " << i;
            }
        }
    }

    // Example 47.a: the moon on 1992 April 12, 0h TD.
    const MoonGeocentric moon = MoonGeocentricAt(2448724.5);
    EXPECT_NEAR(moon.longitude, 133.162655, 1e-5);
    EXPECT_NEAR(moon.latitude, -3.229126, 1e-5);
    EXPECT_NEAR(moon.distance, 368409.7, 0.1);
    // Example 48.a: its illuminated fraction 0.6786 and bright limb at
    // position angle 285.0 degrees.
    const MoonView view = MoonObserve(AtTT(2448724.5), SkyPlace{});
    EXPECT_NEAR(view.illuminatedFraction, 0.6786, 5e-4);
    EXPECT_NEAR(view.brightLimbAngle, 285.0, 0.1);

    // Example 32.a: Venus's heliocentric place on 1992 December 20, 0h TD.
    double l = 0.0, b = 0.0, r = 0.0;
    VsopEvaluate(VsopBodyOf(VsopPlanet::kVenus), (2448976.5 - 2451545.0) / 365250.0, &l, &b, &r);
    EXPECT_NEAR(std::remainder(l / kRad - 26.11428, 360.0), 0.0, 2e-4);
    EXPECT_NEAR(b / kRad, -2.62070, 2e-4);
    EXPECT_NEAR(r, 0.724603, 2e-6);
    // Example 33.a: its apparent place, 21h04m41.454s -18d53'16.84" (seen
    // from the pole its parallax stays under 10").
    const PlanetView venus = PlanetObserve(Planet::kVenus, AtTT(2448976.5), SkyPlace{90.0, 0.0, 0.0});
    EXPECT_NEAR(venus.rightAscension, (21.0 + 4.0 / 60 + 41.454 / 3600) * 15.0, 0.005);
    EXPECT_NEAR(venus.declination, -(18.0 + 53.0 / 60 + 16.84 / 3600), 0.005);
    EXPECT_NEAR(venus.distance, 0.910947, 1e-5);
}

TEST(Ephemeris, StarCatalogueKeepsItsStarsAndRefusesDamage) {
    const std::string text =
        "# Dec RA Mag Name HR HD SAO\n"
        "-16.7161  6.7525 -1.46 \"  9Alp CMa\" 2491  48915 151881\n"
        " 89.2642  2.5302  2.02 \"  1Alp UMi\"  424   8890    308\n"
        "\n";
    std::vector<CatalogueStar> stars;
    std::string error;
    ASSERT_TRUE(StarCatalogueParseText(text, &stars, &error)) << error;
    ASSERT_EQ(stars.size(), 2u);
    const std::vector<uint8> bytes = StarCatalogueEncode(stars);
    std::vector<CatalogueStar> back;
    ASSERT_TRUE(StarCatalogueDecode(bytes.data(), bytes.size(), &back, &error)) << error;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_NEAR(back[0].rightAscension, 6.7525 * 15.0, 1e-7);
    EXPECT_NEAR(back[0].declination, -16.7161, 1e-7);
    EXPECT_NEAR(back[0].magnitude, -1.46, 1e-9);
    EXPECT_EQ(back[1].number, 424);

    // A file cut short, one with bytes past its stars, and one of another
    // kind are refused, not read as stars.
    EXPECT_FALSE(StarCatalogueDecode(bytes.data(), bytes.size() - 1, &back, &error));
    std::vector<uint8> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(StarCatalogueDecode(longer.data(), longer.size(), &back, &error));
    std::vector<uint8> other = bytes;
    other[0] = 'X';
    EXPECT_FALSE(StarCatalogueDecode(other.data(), other.size(), &back, &error));
    EXPECT_TRUE(back.empty());
    // Text lines that are not stars say where they are.
    EXPECT_FALSE(StarCatalogueParseText("12.0 5.0 3.0 \"x\" 1\n95.0 1.0 2.0 \"y\" 2\n", &stars, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_FALSE(StarCatalogueParseText("12.0 5.0 3.0 no name\n", &stars, &error));
}

// The night sky's own light: a dark site's moonless zenith as observers
// measure it, brighter towards the horizon, and a town's sky set by its
// zenith brightness.
TEST(NightGlow, DarkZenithHorizonAndBrighterSites) {
    // Midnight at mid-northern and mid-southern latitudes through a year.
    int checked = 0;
    for (int month = 0; month < 12; ++month) {
        const SkyMoment moment = SkyMomentAt(2460676.5 + month * 30.44);
        for (const double latitude : {45.0, -35.0}) {
            // The longitude that puts local midnight at this moment.
            const SunPlace sun = SunApparent(moment);
            const double longitude = std::remainder(sun.rightAscension + 180.0 - moment.apparentSiderealTime, 360.0);
            const SkyPlace place{latitude, longitude, 0.0};
            const NightGlow glow = NightGlowAt(moment, place, NightGlowSettings{});
            const NightGlowSample zenith = NightGlowSampleAt(glow, 90.0, 0.0);
            // Away from the Milky Way, whose faint stars add up to some
            // 200 S10 where it stands overhead.
            if (zenith.starlight < 40.0) {
                EXPECT_GE(NightGlowMagnitude(zenith.Total()), 21.5) << month << " " << latitude;
                EXPECT_LE(NightGlowMagnitude(zenith.Total()), 22.0) << month << " " << latitude;
                ++checked;
            }
            // Airglow seen edge-on: the horizon several times the zenith.
            EXPECT_GT(NightGlowSampleAt(glow, 5.0, 0.0).airglow, 2.0 * NightGlowSampleAt(glow, 90.0, 0.0).airglow);

            const NightGlow town = NightGlowAt(moment, place, NightGlowSettings{18.0});
            EXPECT_NEAR(NightGlowMagnitude(NightGlowSampleAt(town, 90.0, 0.0).Total()), 18.0, 1e-9);
        }
    }
    EXPECT_GE(checked, 12);
    // 21.9 mag/arcsec^2, about 220 S10, is some 1.9e-4 cd/m^2.
    EXPECT_NEAR(NightGlowLuminance(NightGlowFromMagnitude(21.9)), 1.86e-4, 0.02e-4);
}

}  // namespace
}  // namespace kv
