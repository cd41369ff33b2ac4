// The host's scaling copy: exactness, filtering, and that it writes where it
// is told and nowhere else, whatever rectangles and worlds it is handed.
#include "ScalingCopy.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "PixelWorld.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

using testing::Clone;
using testing::FillRandom;
using testing::FirstDifference;
using testing::Str;

constexpr BitDepth kDepths[] = {BitDepth::k8, BitDepth::k16, BitDepth::k32};
const PF_PixelFloat kMarker = {0.5f, 0.25f, 0.75f, 0.125f};

std::string DepthName(BitDepth d) { return std::to_string(static_cast<int>(d)) + "-bit"; }

// Runs both the copy and the reference on copies of `dst` and requires them
// to agree; returns the copy's result world.
std::unique_ptr<PixelWorld> CopyBoth(const PixelWorld& src, const PixelWorld& dst, const PF_LRect* sr,
                                     const PF_LRect* dr) {
  auto fast = Clone(dst), reference = Clone(dst);
  EXPECT_EQ(ScalingCopy(src.world(), fast->world(), sr, dr), PF_Err_NONE);
  EXPECT_EQ(ScalingCopyReference(src.world(), reference->world(), sr, dr), PF_Err_NONE);
  EXPECT_EQ(FirstDifference(*fast, *reference), "")
      << "fast and reference copies differ, " << DepthName(src.depth()) << " " << src.width() << "x" << src.height()
      << " -> " << dst.width() << "x" << dst.height() << " src_r " << (sr ? Str(*sr) : "null") << " dst_r "
      << (dr ? Str(*dr) : "null");
  return fast;
}

TEST(ScalingCopy, EqualSizesCopyExactlyAtEveryDepthAndRowPadding) {
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(37, 23, depth, 3);
    FillRandom(src, 1);
    PixelWorld dst(37, 23, depth, 5);
    auto whole = CopyBoth(src, dst, nullptr, nullptr);
    EXPECT_EQ(FirstDifference(*whole, src), "");

    // An inner window moved elsewhere keeps every value.
    const PF_LRect sr{4, 2, 20, 17}, dr{10, 5, 26, 20};
    auto moved = CopyBoth(src, dst, &sr, &dr);
    for (A_long y = 0; y < 15; ++y)
      for (A_long x = 0; x < 16; ++x) {
        const PF_PixelFloat a = moved->Get(10 + x, 5 + y), b = src.Get(4 + x, 2 + y);
        ASSERT_TRUE(a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue)
            << "at " << x << "," << y << ": " << Str(a) << " vs " << Str(b);
      }
  }
}

TEST(ScalingCopy, PackedRowsCopyExactlyWhetherOrNotTheSourceCoversThem) {
  // Worlds without row padding take the one-block path when every row comes
  // from inside the source, and the row-by-row one otherwise.
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(19, 30, depth);
    FillRandom(src, 2);
    PixelWorld dst(19, 12, depth);
    const PF_LRect inside{0, 9, 19, 21}, leaving{0, 24, 19, 36};
    auto rows = CopyBoth(src, dst, &inside, nullptr);
    auto partly = CopyBoth(src, dst, &leaving, nullptr);
    for (A_long y = 0; y < 12; ++y) {
      for (A_long x = 0; x < 19; ++x) {
        const PF_PixelFloat a = rows->Get(x, y), b = src.Get(x, 9 + y);
        ASSERT_TRUE(a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue)
            << "at " << x << "," << y << ": " << Str(a) << " vs " << Str(b);
        if (24 + y >= 30) {
          ASSERT_EQ(partly->Get(x, y).alpha, 0.0f) << "below the source, at " << x << "," << y;
        }
      }
    }
  }
}

TEST(ScalingCopy, EnlargingInterpolatesBilinearlyBetweenPixelCentres) {
  // Two pixels, 0 and full, doubled: centres fall at quarter positions, and
  // the outer pixels take the edge values instead of fading out.
  const float expected[] = {0.0f, 0.25f, 0.75f, 1.0f};
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(2, 1, depth), dst(4, 1, depth);
    src.Set(0, 0, {1, 0, 0, 1});
    src.Set(1, 0, {1, 1, 0, 0});
    auto out = CopyBoth(src, dst, nullptr, nullptr);
    for (A_long x = 0; x < 4; ++x) {
      const PF_PixelFloat p = out->Get(x, 0);
      EXPECT_EQ(p.alpha, 1.0f);
      // 8 bits: 63.75 and 191.25 round to 64 and 191.
      const float tolerance = depth == BitDepth::k8 ? 0.5f / 255 : 1e-6f;
      EXPECT_NEAR(p.red, expected[x], tolerance) << "x " << x;
      EXPECT_NEAR(p.blue, 1.0f - expected[x], tolerance) << "x " << x;
    }
  }
  // In two dimensions the weights multiply: 2x2 corners 0, 1, 0, 0 (red)
  // enlarged to 4x4, pixel (1, 1) sits at (0.25, 0.25) between them.
  PixelWorld src(2, 2, BitDepth::k32), dst(4, 4, BitDepth::k32);
  src.Fill({1, 0, 0, 0});
  src.Set(1, 0, {1, 1, 0, 0});
  auto out = CopyBoth(src, dst, nullptr, nullptr);
  EXPECT_NEAR(out->Get(1, 1).red, 0.25f * 0.75f, 1e-6f);
  EXPECT_NEAR(out->Get(2, 1).red, 0.75f * 0.75f, 1e-6f);
  EXPECT_NEAR(out->Get(3, 0).red, 1.0f, 1e-6f);
}

TEST(ScalingCopy, ShrinkingAveragesTheWholeFootprint) {
  // A one-pixel checker shrunk 8 times must come out mid grey; a filter that
  // samples points would give black or white.
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(64, 64, depth), dst(8, 8, depth);
    for (A_long y = 0; y < 64; ++y)
      for (A_long x = 0; x < 64; ++x) {
        const float v = (x + y) % 2 ? 1.0f : 0.0f;
        src.Set(x, y, {1, v, v, v});
      }
    auto out = CopyBoth(src, dst, nullptr, nullptr);
    for (A_long y = 0; y < 8; ++y)
      for (A_long x = 0; x < 8; ++x) ASSERT_NEAR(out->Get(x, y).red, 0.5f, 1.0f / 255) << x << "," << y;
  }
  // Three pixels into two: each output covers one and a half inputs.
  PixelWorld src(3, 1, BitDepth::k32), dst(2, 1, BitDepth::k32);
  src.Set(0, 0, {1, 0.3f, 0, 0});
  src.Set(1, 0, {1, 0.6f, 0, 0});
  src.Set(2, 0, {1, 0.9f, 0, 0});
  auto out = CopyBoth(src, dst, nullptr, nullptr);
  EXPECT_NEAR(out->Get(0, 0).red, (0.3f + 0.5f * 0.6f) / 1.5f, 1e-6f);
  EXPECT_NEAR(out->Get(1, 0).red, (0.5f * 0.6f + 0.9f) / 1.5f, 1e-6f);
}

TEST(ScalingCopy, FilteringWeighsColourByAlpha) {
  // Opaque red next to transparent black: the average is half-transparent
  // red, not a darkened red.
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(2, 1, depth), dst(1, 1, depth);
    src.Set(0, 0, {1, 1, 0, 0});
    auto out = CopyBoth(src, dst, nullptr, nullptr);
    const PF_PixelFloat p = out->Get(0, 0);
    EXPECT_NEAR(p.alpha, 0.5f, 1.0f / 255);
    EXPECT_NEAR(p.red, 1.0f, 1e-6f);
  }
}

TEST(ScalingCopy, SourceOutsideItsWorldIsTransparentBlack) {
  // "Center" with a layer smaller than the output: a 4x4 layer, the window
  // (-2, -2, 6, 6) around it, into an 8x8 output that held something else.
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(4, 4, depth), dst(8, 8, depth);
    FillRandom(src, 7);
    dst.Fill(kMarker);
    const PF_LRect sr{-2, -2, 6, 6};
    auto out = CopyBoth(src, dst, &sr, nullptr);
    for (A_long y = 0; y < 8; ++y)
      for (A_long x = 0; x < 8; ++x) {
        const bool inside = x >= 2 && x < 6 && y >= 2 && y < 6;
        const PF_PixelFloat p = out->Get(x, y), s = inside ? src.Get(x - 2, y - 2) : PF_PixelFloat{0, 0, 0, 0};
        ASSERT_TRUE(p.alpha == s.alpha && p.red == s.red && p.green == s.green && p.blue == s.blue)
            << "(" << x << ", " << y << "): " << Str(p) << " expected " << Str(s);
      }
  }
}

TEST(ScalingCopy, WritesOnlyInsideTheDestinationRectangle) {
  // "Whole" on a wider output: the letterbox outside dst_r keeps what the
  // output held, at every depth and with rows padded.
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(10, 20, depth), dst(40, 20, depth, 7);
    FillRandom(src, 3);
    dst.Fill(kMarker);
    const PF_LRect dr{15, 0, 25, 20};
    auto out = CopyBoth(src, dst, nullptr, &dr);
    auto expected_marker = Clone(dst);
    for (A_long y = 0; y < 20; ++y)
      for (A_long x = 0; x < 40; ++x) {
        if (x >= 15 && x < 25) continue;
        const PF_PixelFloat p = out->Get(x, y), m = expected_marker->Get(x, y);
        ASSERT_TRUE(p.red == m.red && p.alpha == m.alpha) << "(" << x << ", " << y << ") written outside dst_r";
      }
    // Row padding is never written either.
    for (A_long y = 0; y < 20; ++y)
      for (A_long x = 40; x < 47; ++x) {
        const unsigned char* pad = out->Row<unsigned char>(y) + x * BytesPerPixel(depth);
        for (std::size_t b = 0; b < BytesPerPixel(depth); ++b) ASSERT_EQ(pad[b], 0) << "padding of row " << y;
      }
  }
}

TEST(ScalingCopy, ClippingAtTheDestinationEdgesKeepsTheMapping) {
  // Copying into a rectangle overhanging a world must write exactly what a
  // copy into a larger world would show through that world's window.
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld src(13, 9, depth);
    FillRandom(src, 11);
    PixelWorld small(20, 12, depth), large(26, 18, depth);
    const PF_LRect overhang{-3, -3, 23, 15}, full{0, 0, 26, 18};
    auto clipped = CopyBoth(src, small, nullptr, &overhang);
    auto whole = CopyBoth(src, large, nullptr, &full);
    for (A_long y = 0; y < 12; ++y)
      for (A_long x = 0; x < 20; ++x) {
        const PF_PixelFloat a = clipped->Get(x, y), b = whole->Get(x + 3, y + 3);
        ASSERT_TRUE(a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue)
            << "(" << x << ", " << y << "): " << Str(a) << " vs " << Str(b);
      }
  }
}

TEST(ScalingCopy, ExtremeRectanglesStayInBounds) {
  // Coordinates anywhere in the 32-bit range: no overflow, no access outside
  // either world (run under ASan or valgrind to see it), success returned.
  const PF_LRect extremes[] = {
      {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MAX - 2, INT_MAX - 2, INT_MAX, INT_MAX},
      {INT_MIN, INT_MIN, INT_MIN + 3, INT_MIN + 3}, {-5, -5, 3, INT_MAX}, {0, 0, 1, 1}, {2, 1, 7, 5},
  };
  for (BitDepth depth : kDepths)
    for (const PF_LRect& sr : extremes)
      for (const PF_LRect& dr : extremes) {
        SCOPED_TRACE(DepthName(depth) + " src_r " + Str(sr) + " dst_r " + Str(dr));
        PixelWorld src(6, 5, depth), dst(7, 4, depth);
        FillRandom(src, 5);
        auto out = CopyBoth(src, dst, &sr, &dr);
        for (A_long y = 0; y < 4; ++y)
          for (A_long x = 0; x < 7; ++x) ASSERT_TRUE(std::isfinite(out->Get(x, y).red));
      }
}

TEST(ScalingCopy, EmptyOrInvertedRectanglesCopyNothing) {
  PixelWorld src(8, 8, BitDepth::k8), dst(8, 8, BitDepth::k8);
  FillRandom(src, 2);
  dst.Fill(kMarker);
  const PF_LRect empties[] = {{3, 3, 3, 6}, {3, 3, 6, 3}, {6, 6, 2, 2}, {INT_MAX, 0, INT_MIN, 8}};
  const PF_LRect whole{0, 0, 8, 8};
  for (const PF_LRect& e : empties) {
    SCOPED_TRACE(Str(e));
    auto a = CopyBoth(src, dst, &e, &whole);
    EXPECT_EQ(FirstDifference(*a, dst), "");
    auto b = CopyBoth(src, dst, &whole, &e);
    EXPECT_EQ(FirstDifference(*b, dst), "");
  }
  // A destination rectangle wholly outside the world, and empty worlds.
  const PF_LRect away{100, 100, 200, 200};
  auto c = CopyBoth(src, dst, nullptr, &away);
  EXPECT_EQ(FirstDifference(*c, dst), "");
  PixelWorld none(0, 5, BitDepth::k8);
  auto d = CopyBoth(none, dst, nullptr, nullptr);
  EXPECT_EQ(FirstDifference(*d, dst), "");
  EXPECT_EQ(ScalingCopy(src.world(), none.world(), nullptr, nullptr), PF_Err_NONE);
}

TEST(ScalingCopy, RefusesMismatchedOrDamagedWorldsWithoutWriting) {
  PixelWorld src8(4, 4, BitDepth::k8), dst16(4, 4, BitDepth::k16), dst8(4, 4, BitDepth::k8);
  dst16.Fill(kMarker);
  dst8.Fill(kMarker);
  auto before16 = Clone(dst16), before8 = Clone(dst8);
  EXPECT_EQ(ScalingCopy(src8.world(), dst16.world(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(ScalingCopyReference(src8.world(), dst16.world(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(FirstDifference(dst16, *before16), "");

  PF_EffectWorld no_data = src8.world();
  no_data.data = nullptr;
  PF_EffectWorld short_rows = src8.world();
  short_rows.rowbytes = 4 * 4 - 1;
  PF_EffectWorld negative = src8.world();
  negative.height = -1;
  for (const PF_EffectWorld* bad : {&no_data, &short_rows, &negative}) {
    EXPECT_EQ(ScalingCopy(*bad, dst8.world(), nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_EffectWorld bad_dst = *bad;
    EXPECT_EQ(ScalingCopy(src8.world(), bad_dst, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  }
  EXPECT_EQ(FirstDifference(dst8, *before8), "");
}

TEST(ScalingCopy, CopyWithinOneWorldReadsTheOriginalPixels) {
  for (BitDepth depth : kDepths) {
    SCOPED_TRACE(DepthName(depth));
    PixelWorld world(16, 16, depth);
    FillRandom(world, 9);
    auto original = Clone(world);
    auto expected = Clone(world);
    const PF_LRect sr{0, 0, 12, 12}, dr{1, 1, 15, 15};
    ASSERT_EQ(ScalingCopyReference(original->world(), expected->world(), &sr, &dr), PF_Err_NONE);
    ASSERT_EQ(ScalingCopy(world.world(), world.world(), &sr, &dr), PF_Err_NONE);
    EXPECT_EQ(FirstDifference(world, *expected), "");
    const PF_LRect same_size{2, 2, 14, 14};
    auto expected2 = Clone(*original);
    auto world2 = Clone(*original);
    ASSERT_EQ(ScalingCopyReference(original->world(), expected2->world(), &sr, &same_size), PF_Err_NONE);
    ASSERT_EQ(ScalingCopy(world2->world(), world2->world(), &sr, &same_size), PF_Err_NONE);
    EXPECT_EQ(FirstDifference(*world2, *expected2), "");
  }
}

TEST(ScalingCopy, FastPathMatchesTheReferenceOnRandomRectangles) {
  const std::uint32_t seed = 20261208;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> size(1, 24), coord(-12, 36);
  for (int round = 0; round < 300; ++round) {
    const BitDepth depth = kDepths[round % 3];
    PixelWorld src(size(rng), size(rng), depth, round % 2), dst(size(rng), size(rng), depth, round % 3);
    FillRandom(src, seed + round);
    FillRandom(dst, seed - round);
    PF_LRect sr{coord(rng), coord(rng), coord(rng), coord(rng)}, dr{coord(rng), coord(rng), coord(rng), coord(rng)};
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    CopyBoth(src, dst, &sr, &dr);
  }
}

}  // namespace
}  // namespace hostsim
