// Helpers shared by the pixel tests: filling worlds and comparing them with a
// message that names the first pixel that differs.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "PixelWorld.h"

namespace hostsim::testing {

// A fresh directory under the system's temporary one. The random part keeps
// test runs of several build trees at once apart.
inline std::filesystem::path FreshTempDir(const std::string& name) {
  std::random_device random;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / (name + "_" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string Str(const PF_LRect& r) {
  std::ostringstream s;
  s << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
  return s.str();
}

inline std::string Str(const PF_PixelFloat& p) {
  std::ostringstream s;
  s << "argb(" << p.alpha << ", " << p.red << ", " << p.green << ", " << p.blue << ")";
  return s.str();
}

// Random channel values over the depth's whole range (alpha included).
inline void FillRandom(PixelWorld& w, std::uint32_t seed) {
  std::mt19937 rng(seed);
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) switch (w.depth()) {
        case BitDepth::k8: {
          std::uniform_int_distribution<int> d(0, 255);
          w.At<PF_Pixel8>(x, y) = {A_u_char(d(rng)), A_u_char(d(rng)), A_u_char(d(rng)), A_u_char(d(rng))};
          break;
        }
        case BitDepth::k16: {
          std::uniform_int_distribution<int> d(0, 32768);
          w.At<PF_Pixel16>(x, y) = {A_u_short(d(rng)), A_u_short(d(rng)), A_u_short(d(rng)), A_u_short(d(rng))};
          break;
        }
        case BitDepth::k32: {
          std::uniform_real_distribution<float> d(0.0f, 1.0f);
          w.At<PF_PixelFloat>(x, y) = {d(rng), d(rng), d(rng), d(rng)};
          break;
        }
      }
}

// Compares the pixels (not the row padding) of two worlds of one size and
// depth. Empty string when equal, else where and how they differ.
// Whether two pixels hold the same bits, except that any NaN matches any
// NaN: which of two NaNs an addition returns depends on the order in which
// the compiler put its operands, which C++ leaves open, and to whatever
// reads the pixel a NaN is a NaN.
inline bool SamePixel(const PixelWorld& a, const PixelWorld& b, A_long x, A_long y) {
  const std::size_t n = BytesPerPixel(a.depth());
  if (std::memcmp(a.Row<unsigned char>(y) + x * n, b.Row<unsigned char>(y) + x * n, n) == 0) return true;
  if (a.depth() != BitDepth::k32) return false;
  const PF_PixelFloat p = a.At<PF_PixelFloat>(x, y), q = b.At<PF_PixelFloat>(x, y);
  const auto same = [](float u, float v) { return std::memcmp(&u, &v, sizeof u) == 0 || (u != u && v != v); };
  return same(p.alpha, q.alpha) && same(p.red, q.red) && same(p.green, q.green) && same(p.blue, q.blue);
}

inline std::string FirstDifference(const PixelWorld& a, const PixelWorld& b) {
  if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return "different shapes";
  const std::size_t bytes = static_cast<std::size_t>(a.width()) * BytesPerPixel(a.depth());
  for (A_long y = 0; y < a.height(); ++y)
    if (std::memcmp(a.Row<unsigned char>(y), b.Row<unsigned char>(y), bytes) != 0)
      for (A_long x = 0; x < a.width(); ++x)
        if (!SamePixel(a, b, x, y))
          return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + "): " + Str(a.Get(x, y)) + " vs " +
                 Str(b.Get(x, y));
  return "";
}

// Same size, depth and row padding.
inline std::unique_ptr<PixelWorld> Clone(const PixelWorld& w) {
  const auto bpp = static_cast<A_long>(BytesPerPixel(w.depth()));
  auto c = std::make_unique<PixelWorld>(w.width(), w.height(), w.depth(),
                                        (w.world().rowbytes - w.width() * bpp) / bpp);
  const std::size_t bytes = static_cast<std::size_t>(w.width()) * BytesPerPixel(w.depth());
  for (A_long y = 0; y < w.height(); ++y) std::memcpy(c->Row<unsigned char>(y), w.Row<unsigned char>(y), bytes);
  return c;
}

}  // namespace hostsim::testing
