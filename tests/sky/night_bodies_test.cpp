// The night's bodies a sky holds: each star's light through the model's own
// air, at every altitude down to below the horizon.
#include "sky/night_bodies.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sky/panorama_rows.h"
#include "sky/sky_model.h"
#include "sky/stars.h"

namespace kv {
namespace {

// The thousands of stars of a moment share one table of the transmittance:
// each star's flux stays within 0.5% of the model's own path through the
// air (or 1e-4 of its light above the air, where the air lets almost none
// through), near the horizon too, and none is lost. The sky keeps the table
// from one moment to the next, and the air of a new turbidity makes it anew.
TEST(NightBodies, StarsKeepTheModelsTransmittanceAtEveryAltitude) {
    Sky* sky = SkyModelCreate();
    ASSERT_NE(sky, nullptr);
    std::vector<CatalogueStar> stars;
    for (int i = 0; i < 3000; ++i) {
        CatalogueStar s;
        s.rightAscension = std::fmod(i * 7.31, 360.0);
        s.declination = -40.0 + std::fmod(i * 0.377, 130.0);
        s.magnitude = 2.0;
        stars.push_back(s);
    }
    const SolarTime when{2026, 6, 28, 22, 30, 0.0, 120};
    const double latitude = 48.8566, longitude = 2.3522;
    for (const float turbidity : {2.0f, 6.0f}) {
        SCOPED_TRACE(turbidity);
        ASSERT_TRUE(SkyModelConfigure(sky, SkyModelPhysical, turbidity, 0.3f, 0.0f));
        SkySetNightBodies(sky, latitude, longitude, 0.0, when, &stars);
        std::vector<StarView> views;
        StarsObserve(stars, SkyMomentAt(SolarJulianDay(when)), SkyPlace{latitude, longitude, 0.0}, &views);
        const PanoramaBodies* bodies = SkyModelBodies(sky);
        std::size_t k = 0, nearHorizon = 0;
        for (const StarView& v : views) {
            if (!(v.horizontal.altitude > -1.0)) continue;
            ASSERT_LT(k, bodies->points.size());
            const PanoramaPoint& p = bodies->points[k++];
            const RGBAReal air = SkyModelThroughAir(sky, 90.0 - v.horizontal.altitude);
            const double above = v.illuminance / 1000.0;
            EXPECT_NEAR(p.flux.green, air.green * above, 0.005 * air.green * above + 1e-4 * above)
                << v.horizontal.altitude;
            EXPECT_NEAR(p.flux.blue, air.blue * above, 0.005 * air.blue * above + 1e-4 * above)
                << v.horizontal.altitude;
            nearHorizon += v.horizontal.altitude < 5.0 ? 1 : 0;
        }
        EXPECT_GT(nearHorizon, 50u);
    }
    SkyModelDestroy(sky);
}

}  // namespace
}  // namespace kv
