#include "analytic_sky.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// 2 pi and pi, each first rounded to single precision.
constexpr double kTwoPiSingle = 6.2831854820251465;
constexpr double kPiSingle = 3.1415927410125732;

}  // namespace

bool Matrix3Invert(const double s[3][3], double d[3][3]) {
    const double c00 = s[1][1] * s[2][2] - s[1][2] * s[2][1];
    const double c01 = s[1][2] * s[2][0] - s[1][0] * s[2][2];
    const double c02 = s[1][0] * s[2][1] - s[1][1] * s[2][0];
    const double det = s[0][0] * c00 + s[0][1] * c01 + s[0][2] * c02;
    if (det == 0.0) return false;
    const double inv = 1.0 / det;
    const double r[3][3] = {
        {c00, s[0][2] * s[2][1] - s[0][1] * s[2][2], s[0][1] * s[1][2] - s[0][2] * s[1][1]},
        {c01, s[0][0] * s[2][2] - s[0][2] * s[2][0], s[0][2] * s[1][0] - s[0][0] * s[1][2]},
        {c02, s[0][1] * s[2][0] - s[0][0] * s[2][1], s[0][0] * s[1][1] - s[0][1] * s[1][0]},
    };
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) d[i][j] = r[i][j] * inv;
    }
    return true;
}

namespace {

// The display primaries and white point give the conversion.
bool MakeConversion(double conversion[3][3]) {
    // Display primaries and white point as chromaticities (x, y, z).
    const double red[3] = {0.625, 0.34, 0.035};
    const double green[3] = {0.285, 0.605, 0.11};
    const double blue[3] = {0.15, 0.065, 0.785};
    double p[3][3];
    for (int r = 0; r < 3; ++r) {
        p[r][0] = red[r];
        p[r][1] = green[r];
        p[r][2] = blue[r];
    }
    double pInv[3][3];
    if (!Matrix3Invert(p, pInv)) return false;
    // The white point's XYZ at luminance 1 fixes each primary's scale.
    const double w[3] = {0.283 / 0.298, 1.0, 0.419 / 0.298};
    double scale[3];
    for (int r = 0; r < 3; ++r) scale[r] = pInv[r][0] * w[0] + pInv[r][1] * w[1] + pInv[r][2] * w[2];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) p[r][c] *= scale[c];
    }
    return Matrix3Invert(p, conversion);
}

struct Conversion {
    double m[3][3] = {};
    bool made = false;
};

const Conversion& TheConversion() {
    static const Conversion conversion = [] {
        Conversion c;
        c.made = MakeConversion(c.m);
        return c;
    }();
    return conversion;
}

}  // namespace

bool SkyColorInit() { return TheConversion().made; }

const double (*SkyGetConversionMatrix())[3] { return TheConversion().m; }

void SkyStateSetSun(SkyState* state, float thetaDegrees, float phiDegrees, float turbidity) {
    SkyState& s = *state;
    const double t = thetaDegrees * kSkyDegToRad;
    const double p = phiDegrees * kSkyDegToRad;
    const double T = turbidity;
    s.sunTheta = thetaDegrees;
    s.sunPhi = phiDegrees;
    s.turbidity = turbidity;
    s.sunDirection = V3d{static_cast<real>(std::sin(t) * std::sin(p)), static_cast<real>(std::cos(t)),
                         static_cast<real>(std::sin(t) * std::cos(p))};

    const double coefficients[3][5] = {
        {-0.0193 * T - 0.2592, 0.0008 - 0.0665 * T, 0.2125 - 0.0004 * T, -0.0641 * T - 0.8989, 0.0452 - 0.0033 * T},
        {-0.0167 * T - 0.2608, 0.0092 - 0.0950 * T, 0.2102 - 0.0079 * T, -0.0441 * T - 1.6537, 0.0529 - 0.0109 * T},
        {0.1787 * T - 1.4630, 0.4275 - 0.3554 * T, 5.3251 - 0.0227 * T, 0.1206 * T - 2.5771, 0.3703 - 0.0670 * T},
    };
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 5; ++i) s.perez[c][i] = coefficients[c][i];
    }

    const double t2 = t * t;
    const double t3 = t2 * t;
    const double T2 = T * T;
    s.zenith[SkyChannelX] = T2 * (0.00166 * t3 - 0.00375 * t2 + 0.00209 * t) +
                            T * (-0.02903 * t3 + 0.06377 * t2 - 0.03202 * t + 0.00394) +
                            (0.11693 * t3 - 0.21196 * t2 + 0.06052 * t + 0.25886);
    s.zenith[SkyChannelY] = T2 * (0.00275 * t3 - 0.00610 * t2 + 0.00317 * t) +
                            T * (-0.04214 * t3 + 0.08970 * t2 - 0.04153 * t + 0.00516) +
                            (0.15346 * t3 - 0.26756 * t2 + 0.06670 * t + 0.26688);
    const double chi = (0.4444444444444444 - T * 0.008333333333333333) * (kPiSingle - 2.0 * t);
    s.zenith[SkyChannelLum] = (4.0453 * T - 4.9710) * std::tan(chi) - 0.2155 * T + 2.4192;

    for (int c = 0; c < 3; ++c) s.normaliser[c] = SkyPerez(s, 0.0, t, c);
}

double SkyPerez(const SkyState& state, double theta, double gamma, int32 channel) {
    const double* k = state.perez[channel];
    const double cosGamma = std::cos(gamma);
    const double f = (1.0 + k[0] * std::exp(k[1] / std::cos(theta))) *
                     (1.0 + k[2] * std::exp(k[3] * gamma) + k[4] * cosGamma * cosGamma);
    return std::isfinite(f) ? f : 0.0;
}

void SkyDirectionAngles(const V3d* v, double* theta, double* phi) {
    const double u = std::clamp<double>(v->y, -1.0, 1.0);
    *theta = std::acos(u);
    double hx = v->x;
    double hy = v->y - u;
    double hz = v->z;
    const double length = std::sqrt(hx * hx + hy * hy + hz * hz);
    if (length > 0.0) {
        hx /= length;
        hy /= length;
        hz /= length;
    }
    *phi = std::acos(std::clamp(hz, -1.0, 1.0));
    if (hx < 0.0) *phi = kTwoPiSingle - *phi;
}

RGBAReal SkyColor(const SkyState& s, double thetaS, double phiS, double theta, double phi) {
    // Rounding can carry the cosine of a direction next to the sun past 1.
    const double cosGamma = std::clamp(
        std::cos(phi - phiS) * std::sin(thetaS) * std::sin(theta) + std::cos(thetaS) * std::cos(theta), -1.0, 1.0);
    const double gamma = std::acos(cosGamma);
    const double x = SkyPerez(s, theta, gamma, SkyChannelX) * (s.zenith[SkyChannelX] / s.normaliser[SkyChannelX]);
    const double y = SkyPerez(s, theta, gamma, SkyChannelY) * (s.zenith[SkyChannelY] / s.normaliser[SkyChannelY]);
    const double Y = SkyPerez(s, theta, gamma, SkyChannelLum) * (s.zenith[SkyChannelLum] / s.normaliser[SkyChannelLum]);
    const double X = (1.0 / y) * Y * x;
    const double Z = Y / y - X - Y;
    return SkyXYZToRGB(X, Y, Z);
}

RGBAReal SkyXYZToRGB(double x, double y, double z) {
    const double(*m)[3] = TheConversion().m;
    return RGBAReal{static_cast<real>(m[0][0] * x + m[0][1] * y + m[0][2] * z),
                    static_cast<real>(m[1][0] * x + m[1][1] * y + m[1][2] * z),
                    static_cast<real>(m[2][0] * x + m[2][1] * y + m[2][2] * z), 0.0f};
}

RGBA SkyToneMap(const RGBAReal* c, float k) {
    // "not less than 0" also refuses NaN, which no byte could represent.
    if (!(c->red >= 0.0f && c->green >= 0.0f && c->blue >= 0.0f)) return RGBA{0, 0, 0, 255};
    const double kd = k;
    auto byte = [kd](real v) {
        const double mapped = (1.0 - std::exp(-kd * v)) * 255.0;
        return static_cast<uint8>(mapped);
    };
    return RGBA{byte(c->red), byte(c->green), byte(c->blue), 255};
}

}  // namespace kv
