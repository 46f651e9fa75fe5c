#include "sky_colours.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "engine/core/memory.h"

// Four directions at a time where the processor has AVX2 and FMA; the scalar
// path is the same computation one direction at a time.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KV_SKY_AVX2 1
#include <immintrin.h>
#else
#define KV_SKY_AVX2 0
#endif

namespace kv {

namespace {

// ---- Fast exponential for x in [-40, 40]: e^x = 2^k e^r with |r| <= ln 2 / 2
// and e^r by its Taylor polynomial of degree 12 (remainder below 3e-16).
// Relative error a few units in the last place.
constexpr double kExpShifter = 6755399441055744.0;  // 1.5 * 2^52: rounds to an integer
constexpr double kInvLn2 = 1.44269504088896338700e+00;
// ln 2 split so that k * hi is exact.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kExpMin = -40.0;
// 1 / n! for n = 12 down to 2.
constexpr double kExpCoefficients[11] = {1.0 / 479001600.0,
                                         1.0 / 39916800.0,
                                         1.0 / 3628800.0,
                                         1.0 / 362880.0,
                                         1.0 / 40320.0,
                                         1.0 / 5040.0,
                                         1.0 / 720.0,
                                         1.0 / 120.0,
                                         1.0 / 24.0,
                                         1.0 / 6.0,
                                         0.5};

inline double FastExp(double x) {
    const double shifted = x * kInvLn2 + kExpShifter;
    const double kd = shifted - kExpShifter;
    const double r = (x - kd * kLn2Hi) - kd * kLn2Lo;
    double p = kExpCoefficients[0];
    for (int i = 1; i < 11; ++i) p = p * r + kExpCoefficients[i];
    p = 1.0 + r * (1.0 + r * p);
    // The shifted sum's low bits hold k: moved into the exponent field they
    // scale p by 2^k.
    const uint64 kBits = std::bit_cast<uint64>(shifted) << 52;
    return std::bit_cast<double>(std::bit_cast<uint64>(p) + kBits);
}

// ---- Fast arc-cosine: a rational approximation of asin on [0, 1/2] and the
// half-angle identities beyond. Error a few units in the last place.
constexpr double kPio2Hi = 1.57079632679489655800e+00;
constexpr double kPio2Lo = 6.12323399573676603587e-17;
constexpr double kPS0 = 1.66666666666666657415e-01;
constexpr double kPS1 = -3.25565818622400915405e-01;
constexpr double kPS2 = 2.01212532134862925881e-01;
constexpr double kPS3 = -4.00555345006794114027e-02;
constexpr double kPS4 = 7.91534994289814532176e-04;
constexpr double kPS5 = 3.47933107596021167570e-05;
constexpr double kQS1 = -2.40339491173441421878e+00;
constexpr double kQS2 = 2.02094576023350569471e+00;
constexpr double kQS3 = -6.88283971605453293030e-01;
constexpr double kQS4 = 7.70381505559019352791e-02;

inline double AsinRational(double z) {
    const double p = z * (kPS0 + z * (kPS1 + z * (kPS2 + z * (kPS3 + z * (kPS4 + z * kPS5)))));
    const double q = 1.0 + z * (kQS1 + z * (kQS2 + z * (kQS3 + z * kQS4)));
    return p / q;
}

// Directions closer than this (in 1 - |cos gamma|) to the sun or its
// opposite are evaluated plainly: the arc-cosine is too steep there for the
// error bound to be useful.
constexpr double kMinOneMinusCos = 1e-7;

// acos(a) for |a| <= 1, and in *invSine an upper bound of 1 / sin(acos(a))
// valid over [a - 1e-12, a + 1e-12]; negative when the direction must be
// evaluated plainly.
inline double FastAcos(double a, float* invSine) {
    const double ax = std::fabs(a);
    if (ax <= 0.5) {
        *invSine = 1.1548f;
        return kPio2Hi - (a - (kPio2Lo - a * AsinRational(a * a)));
    }
    const double z = (1.0 - ax) * 0.5;
    if (z < 0.5 * kMinOneMinusCos) {
        *invSine = -1.0f;
        return 0.0;
    }
    const double s = std::sqrt(z);
    // sin(gamma) >= sqrt(1 - |a|) = sqrt(2) s; the margin covers the float
    // division and the interval.
    *invSine = 0.70720f / static_cast<float>(s);
    const double w = s * AsinRational(z);
    if (a > 0.0) return 2.0 * (s + w);
    return 2.0 * (kPio2Hi - (s + (w - kPio2Lo)));
}

// ---- Error allowances of the fast path against the plain one (absolute on
// cos gamma and gamma, relative on the exponential). Each is several times
// what the analysis and the measured errors of the approximations give.
constexpr double kArgError = 4e-15;    // cos(phi - phiS) by the angle-sum rule, then the same sums
constexpr double kGammaError = 6e-15;  // the two arc-cosines at one argument
constexpr double kExpError = 4e-15;    // FastExp and the library's exp
constexpr double kCos2Error = 2e-14;   // cos^2(gamma) taken as the square of the argument
constexpr double kSumError = 8e-15;    // rounding of the Perez sums, relative to their terms
constexpr double kRoundError = 2e-15;  // rounding differences of the XYZ and RGB sums

// Where direction i's zenith-angle terms are: a row shares one.
inline int32 ThetaIndex(const SkyColorCache* c, int32 i) { return c->row ? 0 : i; }

inline void Plain(const SkyState& s, const SkyColorCache* c, int32 i, double thetaS, double phiS, RGBAReal* out) {
    out[i] = SkyColor(s, thetaS, phiS, c->theta[ThetaIndex(c, i)], c->phi[i]);
}

void MakeZenithFactors(SkyColorCache* c, const SkyState& s) {
    for (int ch = 0; ch < 3; ++ch) {
        const double a = s.perez[ch][0];
        const double b = s.perez[ch][1];
        double* f = c->zenithFactor[ch];
        // The same expression as the first factor of SkyPerez.
        const int32 n = c->row ? 1 : c->count;
        for (int32 i = 0; i < n; ++i) {
            const double v = 1.0 + a * std::exp(b / c->cosTheta[i]);
            // A factor the plain evaluation would zero out poisons the fast
            // colour instead, so that the direction falls back to it.
            f[i] = std::fabs(v) <= 1e300 ? v : std::numeric_limits<double>::quiet_NaN();
        }
        c->factorCoefficients[ch][0] = a;
        c->factorCoefficients[ch][1] = b;
    }
    c->factorsValid = true;
}

bool FactorsCurrent(const SkyColorCache* c, const SkyState& s) {
    if (!c->factorsValid) return false;
    for (int ch = 0; ch < 3; ++ch) {
        if (c->factorCoefficients[ch][0] != s.perez[ch][0] || c->factorCoefficients[ch][1] != s.perez[ch][1]) {
            return false;
        }
    }
    return true;
}

// What a pass needs of the sun and the model, fixed for the whole pass.
struct SunTerms {
    const SkyState* state;
    double thetaS, phiS;
    double sinTs, cosTs, cosPs, sinPs;
    double C[3], D[3], E[3], K[3];
    double alpha;      // relative error of a channel per unit error of gamma
    double beta;       // relative error of a channel independent of gamma
    double rowSum[3];  // twice the absolute row sums of the conversion matrix
    double m[3][3];
};

// False when the model's coefficients leave the error of the fast path
// unbounded: every direction is then evaluated plainly.
bool MakeSunTerms(SunTerms* t, const SkyState& s, double thetaS, double phiS) {
    t->state = &s;
    t->thetaS = thetaS;
    t->phiS = phiS;
    t->alpha = 0.0;
    t->beta = 0.0;
    bool usable = true;
    for (int ch = 0; ch < 3; ++ch) {
        const double C = s.perez[ch][2];
        const double D = s.perez[ch][3];
        const double E = s.perez[ch][4];
        t->C[ch] = C;
        t->D[ch] = D;
        t->E[ch] = E;
        t->K[ch] = s.zenith[ch] / s.normaliser[ch];
        // The second Perez factor's exponential over gamma in [0, pi], and
        // the factor's lowest value there.
        const double eMax = D <= 0.0 ? 1.0 : std::exp(D * std::numbers::pi);
        const double eMin = D <= 0.0 ? std::exp(D * std::numbers::pi) : 1.0;
        const double f2Min = 1.0 + std::fmin(0.0, std::fmin(C * eMin, C * eMax)) + std::fmin(0.0, E);
        if (!(f2Min > 0.05) || !(std::fabs(D) * std::numbers::pi < -kExpMin) || !std::isfinite(t->K[ch]) ||
            !std::isfinite(C) || !std::isfinite(E)) {
            usable = false;
        }
        const double ac = std::fabs(C) * std::fabs(D) * eMax / f2Min;
        const double bc = (std::fabs(C) * eMax * (kExpError + kSumError) + std::fabs(E) * kCos2Error +
                           kSumError * (1.0 + std::fabs(C) * eMax + std::fabs(E))) /
                              f2Min +
                          kRoundError;
        t->alpha = std::fmax(t->alpha, ac);
        t->beta = std::fmax(t->beta, bc);
    }
    const double(*m)[3] = SkyGetConversionMatrix();
    for (int r = 0; r < 3; ++r) {
        // Twice the bound: covers the rounding of colour -/+ error itself.
        t->rowSum[r] = 2.0 * (std::fabs(m[r][0]) + std::fabs(m[r][1]) + std::fabs(m[r][2]));
        for (int c = 0; c < 3; ++c) t->m[r][c] = m[r][c];
    }
    t->sinTs = std::sin(thetaS);
    t->cosTs = std::cos(thetaS);
    t->cosPs = std::cos(phiS);
    t->sinPs = std::sin(phiS);
    return usable;
}

// The fast colour of direction i; false when it cannot be trusted to equal
// the plain one.
bool ComputeOne(const SkyColorCache* cache, const SunTerms& t, int32 i, RGBAReal* out) {
    const int32 ti = ThetaIndex(cache, i);
    const double cd = cache->cosPhi[i] * t.cosPs + cache->sinPhi[i] * t.sinPs;
    double arg = cd * t.sinTs * cache->sinTheta[ti] + t.cosTs * cache->cosTheta[ti];
    arg = arg > 1.0 ? 1.0 : (arg < -1.0 ? -1.0 : arg);
    float invSine;
    const double gamma = FastAcos(arg, &invSine);
    if (invSine < 0.0f) return false;
    double v[3];
    for (int ch = 0; ch < 3; ++ch) {
        v[ch] =
            cache->zenithFactor[ch][ti] * (1.0 + t.C[ch] * FastExp(t.D[ch] * gamma) + t.E[ch] * arg * arg) * t.K[ch];
    }
    const double x = v[0];
    const double y = v[1];
    const double Y = v[2];
    const double invY = 1.0 / y;
    const double X = invY * Y * x;
    const double YOverY = Y * invY;
    const double Z = YOverY - X - Y;
    const double gammaError = kGammaError + kArgError * static_cast<double>(invSine);
    const double rel = t.alpha * gammaError + t.beta;
    const double xyzError = (std::fabs(YOverY) + std::fabs(X) + std::fabs(Y)) * (3.0 * rel + kRoundError);
    float channel[3];
    for (int r = 0; r < 3; ++r) {
        const double c = t.m[r][0] * X + t.m[r][1] * Y + t.m[r][2] * Z;
        const double e = t.rowSum[r] * xyzError;
        const float lo = static_cast<float>(c - e);
        // Both ends of the interval round to one float: it is the plain one.
        if (!(lo == static_cast<float>(c + e))) return false;
        channel[r] = lo;
    }
    *out = RGBAReal{channel[0], channel[1], channel[2], 0.0f};
    return true;
}

// Tone map: beyond this k * c the plain curve's 1 - e^(-k c) rounds to
// exactly 1 (byte 255).
constexpr double kToneSaturated = 38.0;
// The fast exponential and the library's differ by far less than this many
// byte units; closer to a byte boundary the library decides.
constexpr double kToneMargin = 1e-9;

// The plain curve, as SkyToneMap evaluates it.
inline uint8 PlainToneByte(double k, real c) { return static_cast<uint8>((1.0 - std::exp(-k * c)) * 255.0); }

#if KV_SKY_AVX2
// A setting of the process (which instructions to use), not of any sky.
std::atomic<bool> vectorUnitsAllowed{true};

bool UseAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has && vectorUnitsAllowed;
}

#define KV_AVX2 __attribute__((target("avx2,fma")))

KV_AVX2 inline __m256d Splat(double v) { return _mm256_set1_pd(v); }

KV_AVX2 inline __m256d Abs4(__m256d v) { return _mm256_andnot_pd(Splat(-0.0), v); }

// FastExp on four values.
KV_AVX2 inline __m256d FastExp4(__m256d x) {
    const __m256d shifted = _mm256_fmadd_pd(x, Splat(kInvLn2), Splat(kExpShifter));
    const __m256d kd = _mm256_sub_pd(shifted, Splat(kExpShifter));
    __m256d r = _mm256_fnmadd_pd(kd, Splat(kLn2Hi), x);
    r = _mm256_fnmadd_pd(kd, Splat(kLn2Lo), r);
    // Estrin's scheme: a short dependency chain, so that neighbouring
    // evaluations overlap.
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d r4 = _mm256_mul_pd(r2, r2);
    const __m256d r8 = _mm256_mul_pd(r4, r4);
    const double* c = kExpCoefficients;  // 1/12! ... 1/2!
    const __m256d q0 = _mm256_add_pd(Splat(1.0), r);
    const __m256d q1 = _mm256_fmadd_pd(Splat(c[9]), r, Splat(c[10]));
    const __m256d q2 = _mm256_fmadd_pd(Splat(c[7]), r, Splat(c[8]));
    const __m256d q3 = _mm256_fmadd_pd(Splat(c[5]), r, Splat(c[6]));
    const __m256d q4 = _mm256_fmadd_pd(Splat(c[3]), r, Splat(c[4]));
    const __m256d q5 = _mm256_fmadd_pd(Splat(c[1]), r, Splat(c[2]));
    const __m256d s0 = _mm256_fmadd_pd(q1, r2, q0);
    const __m256d s1 = _mm256_fmadd_pd(q3, r2, q2);
    const __m256d s2 = _mm256_fmadd_pd(q5, r2, q4);
    const __m256d t0 = _mm256_fmadd_pd(s1, r4, s0);
    const __m256d t1 = _mm256_fmadd_pd(Splat(c[0]), r4, s2);
    const __m256d p = _mm256_fmadd_pd(t1, r8, t0);
    const __m256i kBits = _mm256_slli_epi64(_mm256_castpd_si256(shifted), 52);
    return _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(p), kBits));
}

// FastAcos on four values; *invSine as there, *bad set in lanes too close to
// +-1 for the bound.
KV_AVX2 inline __m256d FastAcos4(__m256d a, __m256d* invSine, __m256d* bad) {
    const __m256d ax = Abs4(a);
    const __m256d small = _mm256_cmp_pd(ax, Splat(0.5), _CMP_LE_OQ);
    const __m256d zLarge = _mm256_mul_pd(_mm256_sub_pd(Splat(1.0), ax), Splat(0.5));
    const __m256d z = _mm256_blendv_pd(zLarge, _mm256_mul_pd(a, a), small);
    const __m256d s = _mm256_sqrt_pd(z);
    __m256d p = _mm256_fmadd_pd(z, Splat(kPS5), Splat(kPS4));
    p = _mm256_fmadd_pd(z, p, Splat(kPS3));
    p = _mm256_fmadd_pd(z, p, Splat(kPS2));
    p = _mm256_fmadd_pd(z, p, Splat(kPS1));
    p = _mm256_fmadd_pd(z, p, Splat(kPS0));
    p = _mm256_mul_pd(z, p);
    __m256d q = _mm256_fmadd_pd(z, Splat(kQS4), Splat(kQS3));
    q = _mm256_fmadd_pd(z, q, Splat(kQS2));
    q = _mm256_fmadd_pd(z, q, Splat(kQS1));
    q = _mm256_fmadd_pd(z, q, Splat(1.0));
    const __m256d rq = _mm256_div_pd(p, q);
    const __m256d gSmall = _mm256_sub_pd(Splat(kPio2Hi), _mm256_sub_pd(a, _mm256_fnmadd_pd(a, rq, Splat(kPio2Lo))));
    const __m256d w = _mm256_mul_pd(s, rq);
    const __m256d gPos = _mm256_mul_pd(Splat(2.0), _mm256_add_pd(s, w));
    const __m256d gNeg =
        _mm256_mul_pd(Splat(2.0), _mm256_sub_pd(Splat(kPio2Hi), _mm256_add_pd(s, _mm256_sub_pd(w, Splat(kPio2Lo)))));
    const __m256d positive = _mm256_cmp_pd(a, Splat(0.0), _CMP_GT_OQ);
    *invSine = _mm256_blendv_pd(_mm256_div_pd(Splat(0.70720), s), Splat(1.1548), small);
    *bad = _mm256_andnot_pd(small, _mm256_cmp_pd(zLarge, Splat(0.5 * kMinOneMinusCos), _CMP_LT_OQ));
    return _mm256_blendv_pd(_mm256_blendv_pd(gNeg, gPos, positive), gSmall, small);
}

// The zenith-angle terms of four directions from i: per direction, or the
// row's one for all four.
template <bool kRow>
KV_AVX2 inline __m256d ThetaTerms(const double* a, int32 i) {
    if constexpr (kRow) {
        return Splat(a[0]);
    } else {
        return _mm256_loadu_pd(a + i);
    }
}

// Four directions per step; returns how many were handled (a multiple of 4),
// falling back to the plain evaluation for lanes it cannot trust.
template <bool kRow>
KV_AVX2 int32 ComputeAvx2(SkyColorCache* cache, const SunTerms& t, RGBAReal* colours) {
    const int32 n = cache->count & ~3;
    const __m256d sinTs = Splat(t.sinTs);
    const __m256d cosTs = Splat(t.cosTs);
    const __m256d cosPs = Splat(t.cosPs);
    const __m256d sinPs = Splat(t.sinPs);
    for (int32 i = 0; i < n; i += 4) {
        const __m256d cd = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(cache->cosPhi + i), cosPs),
                                         _mm256_mul_pd(_mm256_loadu_pd(cache->sinPhi + i), sinPs));
        __m256d arg = _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(cd, sinTs), ThetaTerms<kRow>(cache->sinTheta, i)),
                                    _mm256_mul_pd(cosTs, ThetaTerms<kRow>(cache->cosTheta, i)));
        arg = _mm256_max_pd(_mm256_min_pd(arg, Splat(1.0)), Splat(-1.0));
        __m256d invSine;
        __m256d bad;
        const __m256d gamma = FastAcos4(arg, &invSine, &bad);
        const __m256d arg2 = _mm256_mul_pd(arg, arg);
        __m256d v[3];
#pragma GCC unroll 3
        for (int ch = 0; ch < 3; ++ch) {
            const __m256d e = FastExp4(_mm256_mul_pd(Splat(t.D[ch]), gamma));
            const __m256d f2 = _mm256_fmadd_pd(Splat(t.E[ch]), arg2, _mm256_fmadd_pd(Splat(t.C[ch]), e, Splat(1.0)));
            v[ch] = _mm256_mul_pd(_mm256_mul_pd(ThetaTerms<kRow>(cache->zenithFactor[ch], i), f2), Splat(t.K[ch]));
        }
        const __m256d invY = _mm256_div_pd(Splat(1.0), v[1]);
        const __m256d Y = v[2];
        const __m256d X = _mm256_mul_pd(_mm256_mul_pd(invY, Y), v[0]);
        const __m256d YOverY = _mm256_mul_pd(Y, invY);
        const __m256d Z = _mm256_sub_pd(_mm256_sub_pd(YOverY, X), Y);
        const __m256d gammaError = _mm256_fmadd_pd(Splat(kArgError), invSine, Splat(kGammaError));
        const __m256d rel = _mm256_fmadd_pd(Splat(t.alpha), gammaError, Splat(t.beta));
        const __m256d xyzError = _mm256_mul_pd(_mm256_add_pd(_mm256_add_pd(Abs4(YOverY), Abs4(X)), Abs4(Y)),
                                               _mm256_fmadd_pd(Splat(3.0), rel, Splat(kRoundError)));
        __m128 channel[3];
        __m128i ok = _mm_set1_epi32(-1);
#pragma GCC unroll 3
        for (int r = 0; r < 3; ++r) {
            const __m256d c = _mm256_fmadd_pd(Splat(t.m[r][2]), Z,
                                              _mm256_fmadd_pd(Splat(t.m[r][1]), Y, _mm256_mul_pd(Splat(t.m[r][0]), X)));
            const __m256d e = _mm256_mul_pd(Splat(t.rowSum[r]), xyzError);
            const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(c, e));
            const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(c, e));
            ok = _mm_and_si128(ok, _mm_castps_si128(_mm_cmpeq_ps(lo, hi)));
            channel[r] = lo;
        }
        __m128 r0 = channel[0];
        __m128 r1 = channel[1];
        __m128 r2 = channel[2];
        __m128 r3 = _mm_setzero_ps();
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(&colours[i].red, r0);
        _mm_storeu_ps(&colours[i + 1].red, r1);
        _mm_storeu_ps(&colours[i + 2].red, r2);
        _mm_storeu_ps(&colours[i + 3].red, r3);
        const int mask = _mm_movemask_ps(_mm_castsi128_ps(ok)) & ~_mm256_movemask_pd(bad);
        if (mask != 0xF) {
            for (int lane = 0; lane < 4; ++lane) {
                if ((mask & (1 << lane)) == 0) {
                    Plain(*t.state, cache, i + lane, t.thetaS, t.phiS, colours);
                    ++cache->plainCount;
                }
            }
        }
    }
    return n;
}

// e^x for x in [-38, 0] in single precision: 2^k e^r, |r| <= ln 2 / 2, e^r
// by its Taylor polynomial of degree 7. Relative error within a few units in
// the last place (of a float).
KV_AVX2 inline __m256 FastExp8(__m256 x) {
    const __m256 kf =
        _mm256_round_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.44269504f)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m256 r = _mm256_fnmadd_ps(kf, _mm256_set1_ps(0.693359375f), x);  // ln 2 in two parts
    r = _mm256_fnmadd_ps(kf, _mm256_set1_ps(-2.12194440e-4f), r);
    const __m256 r2 = _mm256_mul_ps(r, r);
    const __m256 r4 = _mm256_mul_ps(r2, r2);
    const __m256 q0 = _mm256_add_ps(_mm256_set1_ps(1.0f), r);
    const __m256 q1 = _mm256_fmadd_ps(_mm256_set1_ps(1.0f / 6.0f), r, _mm256_set1_ps(0.5f));
    const __m256 q2 = _mm256_fmadd_ps(_mm256_set1_ps(1.0f / 120.0f), r, _mm256_set1_ps(1.0f / 24.0f));
    const __m256 q3 = _mm256_fmadd_ps(_mm256_set1_ps(1.0f / 5040.0f), r, _mm256_set1_ps(1.0f / 720.0f));
    const __m256 p = _mm256_fmadd_ps(_mm256_fmadd_ps(q3, r2, q2), r4, _mm256_fmadd_ps(q1, r2, q0));
    const __m256i kBits = _mm256_slli_epi32(_mm256_cvtps_epi32(kf), 23);
    return _mm256_castsi256_ps(_mm256_add_epi32(_mm256_castps_si256(p), kBits));
}

// Bytes of one channel of eight colours; *trusted gets a bit per lane whose
// byte is certain. The curve is evaluated in single precision, within 1e-4
// of the exact value: a byte is trusted only at least kToneMarginSingle from
// a byte boundary, where the plain evaluation in double precision cannot
// fall on the other side.
constexpr float kToneMarginSingle = 2e-3f;

KV_AVX2 inline __m256i ToneChannel8(__m256 c, __m256 k, int* trusted) {
    const __m256 t = _mm256_mul_ps(k, c);
    const __m256 limit = _mm256_set1_ps(static_cast<float>(kToneSaturated));
    const __m256 saturated = _mm256_cmp_ps(t, limit, _CMP_GE_OQ);
    const __m256 e = FastExp8(_mm256_sub_ps(_mm256_setzero_ps(), _mm256_min_ps(t, limit)));
    const __m256 v = _mm256_fnmadd_ps(_mm256_set1_ps(255.0f), e, _mm256_set1_ps(255.0f));
    const __m256 whole = _mm256_floor_ps(v);
    const __m256 offCentre =
        _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_sub_ps(_mm256_sub_ps(v, whole), _mm256_set1_ps(0.5f)));
    const __m256 clear = _mm256_cmp_ps(offCentre, _mm256_set1_ps(0.5f - kToneMarginSingle), _CMP_LE_OQ);
    *trusted = _mm256_movemask_ps(_mm256_or_ps(clear, saturated));
    return _mm256_cvttps_epi32(_mm256_blendv_ps(whole, _mm256_set1_ps(255.0f), saturated));
}

// Eight colours per step, their channels gathered into lanes.
KV_AVX2 void ToneMapAvx2(const RGBAReal* colours, RGBA* out, int32 count, float k) {
    const double kd = k;
    const __m256 kv = _mm256_set1_ps(k);
    const int32 n = count & ~7;
    for (int32 i = 0; i < n; i += 8) {
        __m128 lo[4];
        __m128 hi[4];
        for (int j = 0; j < 4; ++j) {
            lo[j] = _mm_loadu_ps(&colours[i + j].red);
            hi[j] = _mm_loadu_ps(&colours[i + 4 + j].red);
        }
        _MM_TRANSPOSE4_PS(lo[0], lo[1], lo[2], lo[3]);
        _MM_TRANSPOSE4_PS(hi[0], hi[1], hi[2], hi[3]);
        const __m256 r = _mm256_set_m128(hi[0], lo[0]);
        const __m256 g = _mm256_set_m128(hi[1], lo[1]);
        const __m256 b = _mm256_set_m128(hi[2], lo[2]);
        // Ordered comparisons: a NaN channel also makes the colour black.
        const __m256 zero = _mm256_setzero_ps();
        const __m256 lit =
            _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(r, zero, _CMP_GE_OQ), _mm256_cmp_ps(g, zero, _CMP_GE_OQ)),
                          _mm256_cmp_ps(b, zero, _CMP_GE_OQ));
        int tr;
        int tg;
        int tb;
        const __m256i br = ToneChannel8(_mm256_and_ps(r, lit), kv, &tr);
        const __m256i bg = ToneChannel8(_mm256_and_ps(g, lit), kv, &tg);
        const __m256i bb = ToneChannel8(_mm256_and_ps(b, lit), kv, &tb);
        __m256i pixels = _mm256_or_si256(_mm256_or_si256(br, _mm256_slli_epi32(bg, 8)), _mm256_slli_epi32(bb, 16));
        pixels = _mm256_or_si256(_mm256_and_si256(pixels, _mm256_castps_si256(lit)),
                                 _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(&out[i]), pixels);
        const int litMask = _mm256_movemask_ps(lit);
        if ((tr & tg & tb & litMask) != litMask) {
            for (int lane = 0; lane < 8; ++lane) {
                if ((litMask & (1 << lane)) == 0) continue;
                const RGBAReal& c = colours[i + lane];
                if ((tr & (1 << lane)) == 0) out[i + lane].red = PlainToneByte(kd, c.red);
                if ((tg & (1 << lane)) == 0) out[i + lane].green = PlainToneByte(kd, c.green);
                if ((tb & (1 << lane)) == 0) out[i + lane].blue = PlainToneByte(kd, c.blue);
            }
        }
    }
    for (int32 i = n; i < count; ++i) out[i] = SkyToneMap(&colours[i], k);
}
#endif

}  // namespace

void SkyColorCacheInit(SkyColorCache* cache) { std::memset(static_cast<void*>(cache), 0, sizeof *cache); }

void SkyColorCacheRelease(SkyColorCache* cache) {
    if (cache->block != nullptr) KvFree(cache->block);
    SkyColorCacheInit(cache);
}

namespace {

// Room for count directions in every array; false (the cache emptied) when
// memory runs out.
bool Reserve(SkyColorCache* cache, int32 count) {
    constexpr int32 kArrays = 9;
    if (count > cache->capacity) {
        const std::size_t bytes = static_cast<std::size_t>(count) * kArrays * sizeof(double);
        auto* block = static_cast<double*>(KvMalloc(bytes));
        if (block == nullptr) {
            SkyColorCacheRelease(cache);
            return false;
        }
        if (cache->block != nullptr) KvFree(cache->block);
        cache->block = block;
        cache->capacity = count;
    }
    double* p = cache->block;
    const int32 n = cache->capacity;
    double** arrays[kArrays] = {
        &cache->theta,          &cache->phi,    &cache->sinTheta,        &cache->cosTheta,
        &cache->cosPhi,         &cache->sinPhi, &cache->zenithFactor[0], &cache->zenithFactor[1],
        &cache->zenithFactor[2]};
    for (double** a : arrays) {
        *a = p;
        p += n;
    }
    cache->count = count;
    cache->factorsValid = false;
    return true;
}

}  // namespace

bool SkyColorCacheSetDirections(SkyColorCache* cache, const V3d* directions, int32 count) {
    if (!Reserve(cache, count)) return false;
    cache->row = false;
    for (int32 i = 0; i < count; ++i) {
        SkyDirectionAngles(&directions[i], &cache->theta[i], &cache->phi[i]);
        cache->sinTheta[i] = std::sin(cache->theta[i]);
        cache->cosTheta[i] = std::cos(cache->theta[i]);
        cache->cosPhi[i] = std::cos(cache->phi[i]);
        cache->sinPhi[i] = std::sin(cache->phi[i]);
    }
    return true;
}

bool SkyColorCacheSetAzimuths(SkyColorCache* cache, const double* phi, int32 count) {
    if (!Reserve(cache, count < 1 ? 1 : count)) return false;
    cache->count = count;
    cache->row = true;
    for (int32 i = 0; i < count; ++i) {
        cache->phi[i] = phi[i];
        cache->cosPhi[i] = std::cos(phi[i]);
        cache->sinPhi[i] = std::sin(phi[i]);
    }
    SkyColorCacheSetZenith(cache, 0.0);
    return true;
}

void SkyColorCacheSetZenith(SkyColorCache* cache, double theta) {
    cache->theta[0] = theta;
    cache->sinTheta[0] = std::sin(theta);
    cache->cosTheta[0] = std::cos(theta);
    cache->factorsValid = false;
}

void SkyColorCacheCompute(SkyColorCache* cache, const SkyState& s, double thetaS, double phiS, RGBAReal* colours) {
    const int32 n = cache->count;
    cache->plainCount = 0;
    if (!FactorsCurrent(cache, s)) MakeZenithFactors(cache, s);

    SunTerms sun;
    if (!MakeSunTerms(&sun, s, thetaS, phiS)) {
        for (int32 i = 0; i < n; ++i) Plain(s, cache, i, thetaS, phiS, colours);
        cache->plainCount = n;
        return;
    }
    int32 done = 0;
#if KV_SKY_AVX2
    if (UseAvx2()) done = cache->row ? ComputeAvx2<true>(cache, sun, colours) : ComputeAvx2<false>(cache, sun, colours);
#endif
    for (int32 i = done; i < n; ++i) {
        if (!ComputeOne(cache, sun, i, &colours[i])) {
            Plain(s, cache, i, thetaS, phiS, colours);
            ++cache->plainCount;
        }
    }
}

void SkyToneMapColors(const RGBAReal* colours, RGBA* out, int32 count, float k) {
#if KV_SKY_AVX2
    if (UseAvx2()) {
        ToneMapAvx2(colours, out, count, k);
        return;
    }
#endif
    const double kd = k;
    for (int32 i = 0; i < count; ++i) {
        const RGBAReal& c = colours[i];
        if (!(c.red >= 0.0f && c.green >= 0.0f && c.blue >= 0.0f)) {
            out[i] = RGBA{0, 0, 0, 255};
            continue;
        }
        uint8 bytes[3];
        const real channels[3] = {c.red, c.green, c.blue};
        for (int ch = 0; ch < 3; ++ch) {
            const double t = kd * channels[ch];
            if (t >= kToneSaturated) {
                bytes[ch] = 255;
                continue;
            }
            const double v = (1.0 - FastExp(-t)) * 255.0;
            const double whole = static_cast<double>(static_cast<int32>(v));
            bytes[ch] = v - whole >= kToneMargin && whole + 1.0 - v >= kToneMargin ? static_cast<uint8>(whole)
                                                                                   : PlainToneByte(kd, channels[ch]);
        }
        out[i] = RGBA{bytes[0], bytes[1], bytes[2], 255};
    }
}

void SkyColorsSetVectorUnits(bool allowed) {
#if KV_SKY_AVX2
    vectorUnitsAllowed = allowed;
#else
    (void)allowed;
#endif
}

void SkyComputeColorsPlain(const SkyState& state, const V3d* directions, int32 count, double thetaS, double phiS,
                           RGBAReal* colours) {
    for (int32 i = 0; i < count; ++i) {
        double theta;
        double phi;
        SkyDirectionAngles(&directions[i], &theta, &phi);
        colours[i] = SkyColor(state, thetaS, phiS, theta, phi);
    }
}

void SkyToneMapColorsPlain(const RGBAReal* colours, RGBA* out, int32 count, float k) {
    for (int32 i = 0; i < count; ++i) out[i] = SkyToneMap(&colours[i], k);
}

void SkyHemisphereDirections(int32 rings, V3d* out) {
    const int32 segments = 4 * rings;
    const real step = 6.2831855f / static_cast<real>(segments);
    int32 v = 0;
    for (int32 i = 0; i < rings; ++i) {
        const real elevation = static_cast<real>(i) * step;
        const real cosE = std::cos(elevation);
        const real sinE = std::sin(elevation);
        for (int32 j = 0; j < segments; ++j) {
            const real azimuth = static_cast<real>(j) * step;
            out[v++] = V3d{std::sin(azimuth) * cosE, sinE, std::cos(azimuth) * cosE};
        }
    }
    out[v] = V3d{0.0f, 1.0f, 0.0f};
}

void SkyHemisphereTriangles(int32 rings, uint16* out) {
    const int32 s = 4 * rings;
    int32 t = 0;
    auto add = [&](int32 a, int32 b, int32 c) {
        out[t++] = static_cast<uint16>(a);
        out[t++] = static_cast<uint16>(b);
        out[t++] = static_cast<uint16>(c);
    };
    for (int32 k = 0; k + 1 < rings; ++k) {
        const int32 l = k * s;
        const int32 u = (k + 1) * s;
        for (int32 i = 0; i + 1 < s; ++i) {
            add(l + i, u + i + 1, u + i);
            add(l + i, l + i + 1, u + i + 1);
        }
        add(l + s - 1, u, u + s - 1);
        add(l + s - 1, l, u);
    }
    const int32 c = (rings - 1) * s;
    const int32 apex = rings * s;
    for (int32 i = 0; i + 1 < s; ++i) add(c + i, c + i + 1, apex);
    add(c + s - 1, c, apex);
}

}  // namespace kv
