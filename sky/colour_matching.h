// The CIE 1931 2-degree standard observer and the conversion of its XYZ to
// linear Rec. 709 RGB: what turns a spectrum of light into the colours the
// physical sky gives.
#pragma once

namespace kv {

// The colour matching functions are tabulated from 360 to 830 nm every 5 nm.
constexpr double kColourMatchingFirstNm = 360.0;
constexpr double kColourMatchingLastNm = 830.0;
constexpr double kColourMatchingStepNm = 5.0;
constexpr int kColourMatchingCount = 95;

// Maximum luminous efficacy of photopic vision, lm/W (CIE 1931 y-bar is 1
// at 555 nm): cd/m^2 per W m^-2 sr^-1 nm^-1 weighted by y-bar.
constexpr double kLuminousEfficacy = 683.0;

// x-bar, y-bar, z-bar at a wavelength, linear between the tabulated ones;
// zero outside the table.
void ColourMatching(double nm, double xyz[3]);

// Linear Rec. 709 RGB (D65 white) from CIE XYZ, and back.
void XYZToRec709(const double xyz[3], double rgb[3]);
void Rec709ToXYZ(const double rgb[3], double xyz[3]);

// CIE 1976 u', v' chromaticity of an XYZ colour; (0, 0) for black.
void XYZToUV(const double xyz[3], double* u, double* v);

}  // namespace kv
