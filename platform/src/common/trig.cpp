// The C runtime's single-precision sine and cosine, one implementation for
// every host. The scene's rotations are built from them, so they decide where
// every vertex lands: glibc, the browser's libc and the Windows runtime each
// round a few results differently, and the same scene then draws a pixel or
// two differently on each. Here the argument is reduced exactly, the function
// is evaluated in double with plain IEEE arithmetic (no fused multiply-add, no
// library call) and rounded once to float, as the x87 runtimes of the demo's
// day did; the bits are the same wherever it runs. Checked against every
// float, the results are the correctly rounded ones but for one argument of
// either sign, 0x1.33333p+13, whose sine lies 2^-54 from a tie.
//
// Defined with the C names, these take the place of the system library's for
// every program that links the stand-in: its archive comes before the math
// library on the link line.

#include <cerrno>
#include <cstdint>
#include <cstring>

extern "C" {
float sinf(float x);
float cosf(float x);
void sincosf(float x, float* s, float* c);
}

namespace {

// 2/pi in binary, 288 bits, after a zero word so that the window of a small
// argument may start before the first bit.
constexpr uint32_t kTwoOverPi[] = {0,          0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0,
                                   0xDB629599, 0x3C439041, 0xFE5163AB, 0xDEBBC561, 0xB7246E3A};
constexpr double kHalfPi = 1.57079632679489661923;
// The float just above pi/4: smaller arguments need no reduction.
constexpr uint32_t kQuarterPiBits = 0x3F490FDB;

// 32 bits of the padded string from bit k (bit 0 is the top bit of word 0).
uint64_t Window32(int k) {
  const int i = k >> 5, shift = k & 31;
  if (shift == 0) return kTwoOverPi[i];
  return static_cast<uint32_t>((kTwoOverPi[i] << shift) | (kTwoOverPi[i + 1] >> (32 - shift)));
}

struct Reduced {
  unsigned quadrant;  // the nearest multiple of pi/2, modulo 4
  double rest;        // what is left, in radians, within +-pi/4
};

// |x| = m * 2^s with m the 24-bit significand (|x| >= pi/4, finite). The
// bits of 2/pi above 2^(2-s) only add whole turns to x * 2/pi, so the
// product with the next 128 bits gives x/(2 pi) modulo 1 to 104 bits or more:
// exact for a float argument.
Reduced Reduce(uint32_t magnitude) {
  const uint64_t m = (magnitude & 0x7FFFFF) | 0x800000;
  const int s = static_cast<int>(magnitude >> 23) - 150;
  const int k = s + 30;  // where bit s-1 of 2/pi sits in the padded string
  const uint64_t p3 = m * Window32(k + 96);
  const uint64_t p2 = m * Window32(k + 64) + (p3 >> 32);
  const uint64_t p1 = m * Window32(k + 32) + (p2 >> 32);
  const uint64_t p0 = m * Window32(k) + (p1 >> 32);
  // The turn's fraction in 128 bits; the top two are the quadrant.
  const uint64_t hi = (p0 << 32) | (p1 & 0xFFFFFFFF);
  const uint64_t lo = (p2 << 32) | (p3 & 0xFFFFFFFF);
  unsigned quadrant = static_cast<unsigned>(hi >> 62);
  // Read as two's complement, a rest of half a quadrant or more is the
  // (negative) distance from the next quadrant.
  const int64_t restHi = static_cast<int64_t>((hi << 2) | (lo >> 62));
  const uint64_t restLo = lo << 2;
  if (restHi < 0) ++quadrant;
  const double rest = (static_cast<double>(restHi) + static_cast<double>(restLo) * 0x1p-64) * 0x1p-64;
  return {quadrant & 3, rest * kHalfPi};
}

// Taylor series to the 17th and 18th powers: within 1e-19 on +-pi/4.
double SinPoly(double r) {
  const double z = r * r;
  const double p =
      -1.0 / 6 +
      z * (1.0 / 120 +
           z * (-1.0 / 5040 +
                z * (1.0 / 362880 +
                     z * (-1.0 / 39916800 +
                          z * (1.0 / 6227020800 + z * (-1.0 / 1307674368000 + z * (1.0 / 355687428096000)))))));
  return r + r * z * p;
}

double CosPoly(double r) {
  const double z = r * r;
  const double p =
      -0.5 +
      z * (1.0 / 24 +
           z * (-1.0 / 720 +
                z * (1.0 / 40320 +
                     z * (-1.0 / 3628800 +
                          z * (1.0 / 479001600 + z * (-1.0 / 87178291200 + z * (1.0 / 20922789888000)))))));
  return 1.0 + z * p;
}

uint32_t Bits(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// Both functions of x in double; false (and EDOM) for infinities and NaN.
bool SinCos(float x, double* s, double* c) {
  const uint32_t bits = Bits(x), magnitude = bits & 0x7FFFFFFF;
  if (magnitude >= 0x7F800000) {
    if (magnitude == 0x7F800000) errno = EDOM;
    return false;
  }
  if (magnitude < kQuarterPiBits) {
    // Below 2^-12, sin x rounds to x itself (and keeps the sign of zero).
    *s = magnitude < 0x39800000 ? x : SinPoly(x);
    *c = CosPoly(x);
    return true;
  }
  const Reduced reduced = Reduce(magnitude);
  const double sr = SinPoly(reduced.rest), cr = CosPoly(reduced.rest);
  switch (reduced.quadrant) {
    case 0: *s = sr, *c = cr; break;
    case 1: *s = cr, *c = -sr; break;
    case 2: *s = -sr, *c = -cr; break;
    default: *s = -cr, *c = sr; break;
  }
  if (bits >> 31) *s = -*s;
  return true;
}

}  // namespace

float sinf(float x) {
  double s, c;
  return SinCos(x, &s, &c) ? static_cast<float>(s) : x - x;
}

float cosf(float x) {
  double s, c;
  return SinCos(x, &s, &c) ? static_cast<float>(c) : x - x;
}

void sincosf(float x, float* s, float* c) {
  double ds, dc;
  if (SinCos(x, &ds, &dc)) {
    *s = static_cast<float>(ds), *c = static_cast<float>(dc);
  } else {
    *s = *c = x - x;
  }
}
