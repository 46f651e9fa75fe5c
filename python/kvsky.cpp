// The sky from Python: a sky made from a model and its parameters, its sun
// placed by angles or by a place and a moment, the radiance of directions and
// whole panoramas as NumPy arrays, and the panorama files the program writes.
// Built on the sky's public header and the exports alone: no window, no
// OpenGL, no engine. The interpreter's lock is let go during every
// evaluation and write, so threads run in parallel; each sky takes one call
// at a time (its model keeps per-sun state), several skies any number.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/gltf.h"
#include "export/panorama.h"
#include "sky/exposure.h"
#include "sky/night_bodies.h"
#include "sky/night_glow.h"
#include "sky/sky.h"
#include "sky/sky_colours.h"

namespace py = pybind11;

namespace {

using namespace kv;

// The program's ranges, in its own words (its options say the same).
constexpr const char* kTurbidityRange = "1.7 to 10";
constexpr const char* kAlbedoRange = "0 to 1";
constexpr const char* kAltitudeRange = "0 to 20000 metres";
constexpr const char* kAzimuthRange = "0 up to, not including, 360 degrees";
constexpr const char* kExposureRange = "0.01 to 1";
constexpr const char* kWidthRange = "an even number from 16 to 8192";
constexpr const char* kLatitudeRange = "-90 to 90 degrees";
constexpr const char* kLongitudeRange = "-180 to 180 degrees";
constexpr double kMaxAltitude = 20000.0;
constexpr double kMinExposure = 0.01;
constexpr int kMinRings = 1;
constexpr int kMaxRings = 32;

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

[[noreturn]] void OutOfRange(const char* name, const std::string& what, double value, const char* range) {
    throw py::value_error(std::string(name) + ": " + what + Number(value) + " is out of range (" + range + ")");
}

void Check(bool inRange, const char* name, double value, const char* range) {
    if (!inRange) OutOfRange(name, "", value, range);
}

std::string ZenithRange(SkyModelKind kind) { return "0 to " + Number(SkyModelMaxSunZenith(kind)) + " degrees"; }

// A sky and the lock that lets one call at a time use it.
struct PySky {
    Sky* sky = nullptr;
    std::mutex lock;
    PySky() = default;
    PySky(const PySky&) = delete;
    PySky& operator=(const PySky&) = delete;
    ~PySky() {
        if (sky != nullptr) SkyDestroy(sky);
    }
};

SkyModelKind ModelNamed(const std::string& name) {
    for (int32 k = 0; k < 2; ++k) {
        if (name == kSkyModelNames[k]) return static_cast<SkyModelKind>(k);
    }
    throw py::value_error("model needs preetham or physical, not \"" + name + "\"");
}

SkyModelKind CheckParameters(const std::string& model, double turbidity, double albedo, double altitude) {
    const SkyModelKind kind = ModelNamed(model);
    // In decimal, as the program reads them: 1.7 as a float lies above 1.7.
    Check(turbidity >= 1.7 && turbidity <= 10.0, "turbidity", turbidity, kTurbidityRange);
    Check(albedo >= 0.0 && albedo <= 1.0, "albedo", albedo, kAlbedoRange);
    Check(altitude >= 0.0 && altitude <= kMaxAltitude, "altitude", altitude, kAltitudeRange);
    if (kind != SkyModelPhysical && altitude != 0.0) {
        throw py::value_error("altitude needs model physical: the preetham sky has no viewer's altitude");
    }
    return kind;
}

void CheckSun(SkyModelKind kind, double zenith, double azimuth) {
    if (!(zenith >= 0.0 && zenith <= SkyModelMaxSunZenith(kind))) {
        OutOfRange("sun", "the zenith angle ", zenith, ZenithRange(kind).c_str());
    }
    if (!(azimuth >= 0.0 && azimuth < 360.0)) OutOfRange("sun", "the azimuth ", azimuth, kAzimuthRange);
}

void CheckAll(const std::string& model, double turbidity, double albedo, double altitude, double zenith,
              double azimuth) {
    CheckSun(CheckParameters(model, turbidity, albedo, altitude), zenith, azimuth);
}

std::unique_ptr<PySky> MakeSky(const std::string& model, double turbidity, double albedo, double altitude,
                               double skyBrightness) {
    const SkyModelKind kind = CheckParameters(model, turbidity, albedo, altitude);
    Check(skyBrightness == 0.0 || (skyBrightness >= kNightSkyBrightest && skyBrightness <= kNightSkyDarkest),
          "sky_brightness", skyBrightness, "0 (a dark site) or 14 to 22.5 magnitudes per square arcsecond");
    if (kind != SkyModelPhysical && skyBrightness != 0.0) {
        throw py::value_error("sky_brightness needs model physical: the preetham sky has no night");
    }
    auto s = std::make_unique<PySky>();
    const SkyParameters p{kind,
                          static_cast<float>(turbidity),
                          static_cast<float>(albedo),
                          static_cast<float>(altitude),
                          AtmosphereAerosols{},
                          skyBrightness};
    {
        // The physical model's tables take half a second.
        py::gil_scoped_release free;
        s->sky = SkyCreate(p);
    }
    if (s->sky == nullptr) throw std::bad_alloc();
    return s;
}

// A moment: ISO 8601 text with its UTC offset, or an aware datetime.
SolarTime MomentOf(const py::object& time) {
    std::string text;
    if (py::isinstance<py::str>(time)) {
        text = time.cast<std::string>();
    } else if (py::hasattr(time, "isoformat") && py::hasattr(time, "utcoffset")) {
        if (time.attr("utcoffset")().is_none()) {
            throw py::value_error(
                "time needs a UTC offset: a moment without one would mean a different sun in "
                "every time zone");
        }
        text = time.attr("isoformat")().cast<std::string>();
    } else {
        throw py::type_error("time needs ISO 8601 text or a datetime with its UTC offset");
    }
    SolarTime t{};
    std::string why;
    if (!SolarParseTime(text.c_str(), &t, &why)) throw py::value_error("time: " + why + ", not \"" + text + "\"");
    return t;
}

void CheckPlace(double latitude, double longitude) {
    if (!(latitude >= -90.0 && latitude <= 90.0)) OutOfRange("location", "the latitude ", latitude, kLatitudeRange);
    if (!(longitude >= -180.0 && longitude <= 180.0)) {
        OutOfRange("location", "the longitude ", longitude, kLongitudeRange);
    }
}

py::dict PositionDict(const SolarPosition& p) {
    double program = SolarProgramAzimuth(p.azimuth);
    if (program >= 360.0) program = 0.0;
    py::dict d;
    d["zenith"] = p.zenith;
    d["azimuth"] = program;
    d["compass_azimuth"] = p.azimuth;
    d["true_zenith"] = p.trueZenith;
    d["declination"] = p.declination;
    d["equation_of_time"] = p.equationOfTime;
    return d;
}

py::dict SunPosition(double latitude, double longitude, const py::object& time) {
    CheckPlace(latitude, longitude);
    const SolarTime t = MomentOf(time);
    return PositionDict(SolarCompute(latitude, longitude, SolarJulianDay(t)));
}

// The program's star file: where an installation puts it, else where the
// build made it. Read once; empty (the moon and planets alone) when neither
// can be read.
const std::vector<CatalogueStar>* NightStars() {
    static const std::vector<CatalogueStar>* const stars = []() -> const std::vector<CatalogueStar>* {
        static std::vector<CatalogueStar> loaded;
        for (const char* folder : {KV_DATA_DIR, KV_BUILD_DATA_DIR}) {
            std::string why;
            if (StarCatalogueLoad(std::string(folder) + kNightStarFile, &loaded, &why)) return &loaded;
        }
        return nullptr;
    }();
    return stars;
}

void SetSun(PySky& s, double zenith, double azimuth) {
    CheckSun(SkyGetParameters(s.sky).model, zenith, azimuth);
    float a = static_cast<float>(azimuth);
    if (a >= 360.0f) a = std::nextafter(360.0f, 0.0f);  // just below 360 rounds up in single precision
    const std::lock_guard<std::mutex> held(s.lock);
    SkySetSunAngles(s.sky, static_cast<float>(zenith), a);
    SkyClearNightBodies(s.sky);
    SkyClearPlaceMoment(s.sky);
}

py::dict SetSunAt(PySky& s, double latitude, double longitude, const py::object& time) {
    CheckPlace(latitude, longitude);
    const SolarTime t = MomentOf(time);
    SolarPosition where{};
    std::string why;
    const std::lock_guard<std::mutex> held(s.lock);
    if (!SkySetSunAt(s.sky, latitude, longitude, t, &where, &why)) throw py::value_error(why);
    // The physical sky of a place and a moment shows its night's bodies, as
    // the program's panoramas do.
    const SkyParameters p = SkyGetParameters(s.sky);
    if (p.model == SkyModelPhysical) {
        SkySetNightBodies(s.sky, latitude, longitude, p.altitude, t, NightStars());
    } else {
        SkyClearNightBodies(s.sky);
    }
    return PositionDict(where);
}

void CheckWidth(int width) { Check(PanoramaWidthValid(width), "width", width, kWidthRange); }

void CheckThreads(int threads) {
    if (threads != 1 && threads != 2) OutOfRange("threads", "", threads, "1 or 2");
}

// The rows of a panorama straight into the caller's array, as the EXR holds
// them: linear Rec. 709 in kcd/m^2.
struct IntoArray {
    PanoramaLinearRows rows;
};

bool IntoArrayRow(int32 /*y*/, const RGBAReal* colours, int32 /*width*/, void* data) {
    auto* a = static_cast<IntoArray*>(data);
    PanoramaLinearRowsAdd(&a->rows, colours, 1.0);
    return true;
}

// Evaluates on the given number of threads, then puts the calling thread back
// to the default.
struct ThreadsFor {
    explicit ThreadsFor(int threads) { PanoramaSetThreads(threads); }
    ~ThreadsFor() { PanoramaSetThreads(0); }
    ThreadsFor(const ThreadsFor&) = delete;
    ThreadsFor& operator=(const ThreadsFor&) = delete;
};

py::array_t<float> Panorama(PySky& s, int width, int threads) {
    CheckWidth(width);
    CheckThreads(threads);
    const int32 height = PanoramaHeight(width);
    py::array_t<float> out({static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width), py::ssize_t{3}});
    float* pixels = out.mutable_data();
    bool ok = false;
    {
        py::gil_scoped_release free;
        std::vector<RGBAReal> scratch(static_cast<std::size_t>(width));
        IntoArray a;
        a.rows.sky = s.sky;
        a.rows.width = width;
        a.rows.height = height;
        a.rows.capacity = height;  // one block: the whole array
        a.rows.rgb = pixels;
        a.rows.scratch = scratch.data();
        const std::lock_guard<std::mutex> held(s.lock);
        const ThreadsFor on(threads);
        ok = PanoramaEvaluate(s.sky, width, IntoArrayRow, &a);
    }
    if (!ok) throw std::bad_alloc();
    return out;
}

py::array_t<float> Radiance(PySky& s, const py::object& directions, int threads) {
    if (threads < 0) OutOfRange("threads", "", threads, "0 (one per processor) or more");
    auto d = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(directions);
    if (!d) throw py::type_error("directions needs an (N, 3) array of numbers");
    if (d.ndim() != 2 || d.shape(1) != 3) {
        std::string shape = "(";
        for (py::ssize_t i = 0; i < d.ndim(); ++i) shape += (i > 0 ? ", " : "") + std::to_string(d.shape(i));
        if (d.ndim() == 1) shape += ",";
        throw py::value_error("directions needs an (N, 3) array, not one of shape " + shape + ")");
    }
    const py::ssize_t n = d.shape(0);
    std::vector<V3d> unit(static_cast<std::size_t>(n));
    const double* in = d.data();
    for (py::ssize_t i = 0; i < n; ++i) {
        const double x = in[3 * i], y = in[3 * i + 1], z = in[3 * i + 2];
        const double length = std::sqrt(x * x + y * y + z * z);
        if (!std::isfinite(length) || length == 0.0) {
            throw py::value_error("directions: row " + std::to_string(i) + " (" + Number(x) + ", " + Number(y) + ", " +
                                  Number(z) + ") is not a direction");
        }
        unit[static_cast<std::size_t>(i)] =
            V3d{static_cast<real>(x / length), static_cast<real>(y / length), static_cast<real>(z / length)};
    }
    py::array_t<float> out({n, py::ssize_t{3}});
    float* rgb = out.mutable_data();
    bool ok = true;
    {
        py::gil_scoped_release free;
        std::vector<RGBAReal> radiance(static_cast<std::size_t>(n));
        const std::lock_guard<std::mutex> held(s.lock);
        ok = SkyRadiance(s.sky, unit.data(), n, radiance.data(), threads);
        for (py::ssize_t i = 0; i < n && ok; ++i) {
            const RGBAReal& c = radiance[static_cast<std::size_t>(i)];
            rgb[3 * i] = c.red;
            rgb[3 * i + 1] = c.green;
            rgb[3 * i + 2] = c.blue;
        }
    }
    if (!ok) throw std::bad_alloc();
    return out;
}

[[noreturn]] void RaiseOSError(const std::string& message) {
    PyErr_SetString(PyExc_OSError, message.c_str());
    throw py::error_already_set();
}

std::string PathOf(const py::object& path) {
    py::object text = py::module_::import("os").attr("fspath")(path);
    if (!py::isinstance<py::str>(text)) throw py::type_error("path needs a str or os.PathLike naming a file");
    return text.cast<std::string>();
}

using PanoramaWriter = bool (*)(Sky* sky, const char* path, int32 width, float exposure, std::string* message);

void WritePanorama(PySky& s, const py::object& path, int width, double exposure, int threads, PanoramaWriter write) {
    const std::string file = PathOf(path);
    CheckWidth(width);
    CheckThreads(threads);
    std::string message;
    bool ok = false;
    {
        py::gil_scoped_release free;
        const std::lock_guard<std::mutex> held(s.lock);
        const ThreadsFor on(threads);
        ok = write(s.sky, file.c_str(), width, static_cast<float>(exposure), &message);
    }
    if (!ok) RaiseOSError(message);
}

// The dome the program shows, as its glTF export writes it: the sky's colours
// at its vertices in the program's tone mapping, facing outwards, with the
// sun as a directional light. The exposure: None for the program's default
// (photographic, metered over the whole dome as its orbit view is, with the
// physical sky; the curve at 0.1 with the analytic one), "auto", or the
// curve's K.
void WriteGltf(PySky& s, const py::object& path, int rings, const py::object& exposureValue) {
    const std::string file = PathOf(path);
    Check(rings >= kMinRings && rings <= kMaxRings, "rings", rings, "1 to 32");
    bool photographic = false;
    double exposure = 0.1;
    if (exposureValue.is_none()) {
        photographic = SkyModelInUse(s.sky) == SkyModelPhysical;
    } else if (py::isinstance<py::str>(exposureValue)) {
        if (exposureValue.cast<std::string>() != "auto") {
            throw py::value_error("exposure: " + exposureValue.cast<std::string>() +
                                  " is neither auto nor a number from 0.01 to 1");
        }
        photographic = true;
    } else {
        exposure = exposureValue.cast<double>();
        Check(exposure >= kMinExposure && exposure <= 1.0, "exposure", exposure, kExposureRange);
    }
    std::string message;
    bool ok = false;
    {
        py::gil_scoped_release free;
        const auto n = static_cast<std::size_t>(4 * rings * rings + 1);
        const auto nt = static_cast<std::size_t>(4 * rings * (2 * rings - 1));
        std::vector<V3d> positions(n);
        std::vector<RGBAReal> colours(n);
        std::vector<RGBA> prelit(n);
        std::vector<uint16> faces(3 * nt);
        SkyHemisphereDirections(rings, positions.data());
        SkyHemisphereTriangles(rings, faces.data());
        const std::lock_guard<std::mutex> held(s.lock);
        SkyModelColors(s.sky, positions.data(), static_cast<int32>(n), nullptr, colours.data());
        if (photographic) {
            SkyModelToRec709(s.sky, colours.data(), static_cast<int32>(n));
            const double ev =
                ExposureMeterHemisphere(positions.data(), colours.data(), static_cast<int32>(n), nullptr, -1.0);
            ExposureToneMapColors(colours.data(), prelit.data(), static_cast<int32>(n), ExposureToneFor(ev, false));
        } else {
            SkyToneMapColors(colours.data(), prelit.data(), static_cast<int32>(n), static_cast<float>(exposure));
        }
        const SkyLight* light = SkyModelLight(s.sky);
        const GltfSun sun{SkySunDirection(s.sky), light->sunColour, light->sunIlluminance};
        const GltfDome dome{positions.data(),      positions.data(), prelit.data(),
                            static_cast<int32>(n), faces.data(),     static_cast<int32>(nt)};
        GltfSun moon{};
        const bool moonUp = GltfMoonOf(s.sky, &moon);
        ok = GltfExportDome(dome, false, file.c_str(), &message, &sun, moonUp ? &moon : nullptr);
    }
    if (!ok) RaiseOSError(message);
}

}  // namespace

PYBIND11_MODULE(kvsky, m) {
    m.doc() =
        "The clear daytime sky as numbers: a sky made from a model (the analytic daylight model "
        "\"preetham\" or the physical atmosphere \"physical\") and its parameters, its sun placed by "
        "angles or by a place on Earth and a moment, the radiance of any directions and whole "
        "equirectangular panoramas as NumPy arrays, and the files the program writes (OpenEXR, "
        "Radiance .hdr, PNG, glTF).\n\n"
        "Units: radiance is linear Rec. 709 RGB scaled so that luminance is in kcd/m^2 (1 = 1000 "
        "cd/m^2, as the EXR panoramas hold it); illuminance is in lux. Directions have y up, +z "
        "north and +x west. The sun's azimuth is the program's: degrees from north towards west "
        "(90 is west, 270 east; the compass azimuth is 360 less it).\n\n"
        "Every evaluation and write lets go of the interpreter's lock: threads run in parallel. "
        "One sky takes one call at a time; give each thread its own sky.";

    m.attr("__version__") = KV_VERSION;
    m.attr("MODELS") = py::make_tuple(kSkyModelNames[0], kSkyModelNames[1]);
    m.attr("MIN_WIDTH") = kPanoramaMinWidth;
    m.attr("MAX_WIDTH") = kPanoramaMaxWidth;
    m.attr("EXR_WHITE_LUMINANCE") = kPanoramaExrWhiteLuminance;
    m.attr("HDR_UNIT") = kPanoramaHdrUnit;

    m.def("sun_position", &SunPosition, py::arg("latitude"), py::arg("longitude"), py::arg("time"),
          "Where the sun stands seen from a place (degrees, north and east positive) at a moment (ISO 8601 "
          "text with its UTC offset, or a datetime with one; years 1901 to 2099), whether or not it is up. "
          "Returns a dict: zenith (degrees, refraction included), azimuth (the program's, from north towards "
          "west), compass_azimuth (from north, clockwise), true_zenith (geometric), declination (degrees) and "
          "equation_of_time (minutes). NOAA's solar equations, good to about 0.01 degrees away from the "
          "horizon.");

    m.def("check_parameters", &CheckAll, py::arg("model") = "preetham", py::arg("turbidity") = 2.0,
          py::arg("albedo") = 0.3, py::arg("altitude") = 0.0, py::arg("zenith") = 0.0, py::arg("azimuth") = 0.0,
          "Raises the ValueError Sky and set_sun would raise for these values, without making a sky (the "
          "physical model's takes half a second): for checking a whole set before making any.");

    py::class_<PySky>(m, "Sky",
                      "A sky of one model and its parameters, with its sun. Made with the sun overhead; place "
                      "it with set_sun or set_sun_at.")
        .def(py::init(&MakeSky), py::arg("model") = "preetham", py::arg("turbidity") = 2.0, py::arg("albedo") = 0.3,
             py::arg("altitude") = 0.0, py::arg("sky_brightness") = 0.0,
             "model: \"preetham\" (the analytic daylight model, the default) or \"physical\" (a physical "
             "atmosphere with multiple scattering, the sun anywhere, through twilight into the night; about half a "
             "second to make). turbidity: haze, 1.7 (clearest) to 10. albedo: the ground's, 0 to 1. altitude: "
             "the viewer's, 0 to 20000 metres (physical model only). sky_brightness: the site's moonless zenith "
             "at night in V magnitudes per square arcsecond, 14 (a city) to 22.5, or 0 for a dark site's natural "
             "night (physical model only). ValueError for a value out of range.")
        .def_property_readonly(
            "model", [](const PySky& s) { return std::string(kSkyModelNames[SkyGetParameters(s.sky).model]); },
            "The model's name.")
        .def_property_readonly(
            "turbidity", [](const PySky& s) { return SkyGetParameters(s.sky).turbidity; }, "Haze, 1.7 to 10.")
        .def_property_readonly(
            "albedo", [](const PySky& s) { return SkyGetParameters(s.sky).albedo; }, "The ground's albedo.")
        .def_property_readonly(
            "altitude", [](const PySky& s) { return SkyGetParameters(s.sky).altitude; },
            "The viewer's altitude in metres.")
        .def_property_readonly(
            "sky_brightness", [](const PySky& s) { return SkyGetParameters(s.sky).skyBrightness; },
            "The site's moonless zenith at night, V magnitudes per square arcsecond (0: a dark site).")
        .def_property_readonly(
            "max_sun_zenith", [](const PySky& s) { return SkyModelMaxSunZenith(SkyGetParameters(s.sky).model); },
            "How far from overhead the model lets the sun go: 85 degrees (preetham) or 180 (physical).")
        .def("set_sun", &SetSun, py::arg("zenith"), py::arg("azimuth"),
             "Places the sun by its zenith angle (degrees, 0 up to max_sun_zenith) and the program's azimuth "
             "(degrees from north towards west, 0 up to 360). ValueError outside those.")
        .def("set_sun_at", &SetSunAt, py::arg("latitude"), py::arg("longitude"), py::arg("time"),
             "Places the sun as seen from a place (degrees, north and east positive) at a moment (ISO 8601 "
             "text with its UTC offset, or a datetime with one). Returns the position as sun_position does. "
             "ValueError when the sun is lower than the model holds there and then; the sun is then unchanged.")
        .def_property_readonly(
            "sun",
            [](PySky& s) {
                float zenith = 0.0f, azimuth = 0.0f;
                const std::lock_guard<std::mutex> held(s.lock);
                SkyGetSunAngles(s.sky, &zenith, &azimuth);
                return py::make_tuple(zenith, azimuth);
            },
            "The sun's (zenith angle, program's azimuth) in degrees.")
        .def_property_readonly(
            "sun_direction",
            [](PySky& s) {
                const std::lock_guard<std::mutex> held(s.lock);
                const V3d d = SkySunDirection(s.sky);
                py::array_t<double> out(3);
                double* p = out.mutable_data();
                p[0] = d.x;
                p[1] = d.y;
                p[2] = d.z;
                return out;
            },
            "The unit vector towards the sun (y up, +z north, +x west).")
        .def_property_readonly(
            "sun_radiance",
            [](PySky& s) {
                const std::lock_guard<std::mutex> held(s.lock);
                const RGBAReal c = SkySunRadiance(s.sky);
                py::array_t<float> out(3);
                float* p = out.mutable_data();
                p[0] = c.red;
                p[1] = c.green;
                p[2] = c.blue;
                return out;
            },
            "The radiance of the sun's disc, linear Rec. 709 in kcd/m^2 (black when the planet hides it).")
        .def_property_readonly(
            "sun_illuminance",
            [](PySky& s) {
                const std::lock_guard<std::mutex> held(s.lock);
                return SkySunIlluminance(s.sky);
            },
            "The illuminance (lux) the sun gives on a surface facing it.")
        .def_property_readonly(
            "horizontal_illuminance",
            [](PySky& s) {
                const std::lock_guard<std::mutex> held(s.lock);
                double fromSky = 0.0;
                const double total = SkyHorizontalIlluminance(s.sky, &fromSky);
                return py::make_tuple(total, fromSky);
            },
            "(total, from the sky alone): the illuminance (lux) on the horizontal ground from the sun and "
            "the sky, and the sky's part of it.")
        .def("radiance", &Radiance, py::arg("directions"), py::arg("threads") = 0,
             "The radiance of directions: an (N, 3) array (normalised here) gives an (N, 3) float32 array of "
             "linear Rec. 709 in kcd/m^2, the sky above the horizon and the Lambertian ground below it, without "
             "the sun's disc. Runs on that many threads (0: one per processor).")
        .def("panorama", &Panorama, py::arg("width") = kPanoramaDefaultWidth, py::arg("threads") = 2,
             "The equirectangular panorama the program's EXR holds, as an (width / 2, width, 3) float32 array: "
             "linear Rec. 709 in kcd/m^2, the sun's disc included. The top row looks at the zenith, the middle "
             "at the horizon; the centre column looks north, a quarter in from the right edge east, the edges "
             "south. width: even, 16 to 8192. threads: 2 (the default) or 1, for a caller that runs one "
             "panorama per core.")
        .def(
            "write_exr",
            [](PySky& s, const py::object& path, int width, int threads) {
                WritePanorama(s, path, width, 0.1, threads,
                              [](Sky* sky, const char* p, int32 w, float, std::string* why) {
                                  return PanoramaWriteEXR(sky, p, w, why);
                              });
            },
            py::arg("path"), py::arg("width") = kPanoramaDefaultWidth, py::arg("threads") = 2,
            "Writes the panorama as OpenEXR: 32-bit float linear Rec. 709, 1 = 1000 cd/m^2. The file appears "
            "whole or not at all; OSError with the program's message when it cannot be written.")
        .def(
            "write_hdr",
            [](PySky& s, const py::object& path, int width, int threads) {
                WritePanorama(s, path, width, 0.1, threads,
                              [](Sky* sky, const char* p, int32 w, float, std::string* why) {
                                  return PanoramaWriteHDR(sky, p, w, why);
                              });
            },
            py::arg("path"), py::arg("width") = kPanoramaDefaultWidth, py::arg("threads") = 2,
            "Writes the panorama as a Radiance picture (.hdr, RGBE): linear Rec. 709, 1 = 179 cd/m^2. The file "
            "appears whole or not at all; OSError when it cannot be written.")
        .def(
            "write_png",
            [](PySky& s, const py::object& path, int width, double exposure, int threads) {
                Check(exposure >= kMinExposure && exposure <= 1.0, "exposure", exposure, kExposureRange);
                WritePanorama(s, path, width, exposure, threads, PanoramaWritePNG);
            },
            py::arg("path"), py::arg("width") = kPanoramaDefaultWidth, py::arg("exposure") = 0.1,
            py::arg("threads") = 2,
            "Writes the panorama as PNG in the program's colours at that exposure (0.01 to 1). The file appears "
            "whole or not at all; OSError when it cannot be written.")
        .def("write_gltf", &WriteGltf, py::arg("path"), py::arg("rings") = 9, py::arg("exposure") = py::none(),
             "Writes the dome as glTF 2.0 binary (.glb), as the program exports it: a hemisphere of that many "
             "rings (1 to 32) with the sky's colours at its vertices in the program's tone mapping at that "
             "exposure (decoded to linear): 0.01 to 1 for the exposure curve, \"auto\" for photographic exposure "
             "metered over the dome, or None for the program's default (auto with the physical sky, 0.1 with the "
             "analytic one); one unlit material, y up, +z north, and the sun as a directional light. The file "
             "appears whole or not at all; OSError when it cannot be written.");
}
