// The fast scaled copy against the reference: its loops, as compiled for
// each instruction set, must give the reference's bits, whatever the depth, scale,
// rectangle placement and pixel values, since the host's tests and the
// effect's rendering tests all see the fast path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "PixelWorld.h"
#include "ScalingCopy.h"
#include "ScalingCopyFast.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

using testing::Clone;
using testing::FillRandom;
using testing::FirstDifference;
using testing::Str;

constexpr BitDepth kDepths[] = {BitDepth::k8, BitDepth::k16, BitDepth::k32};

std::string DepthName(BitDepth d) { return std::to_string(static_cast<int>(d)) + "-bit"; }

// The geometry ScalingCopy hands to the fast path: rectangles as given (null
// for the whole world), the written part clipped to the destination world.
ScaledCopyGeometry GeometryOf(const PixelWorld& src, const PixelWorld& dst, const PF_LRect& sr, const PF_LRect& dr) {
  ScaledCopyGeometry g{};
  g.src_x = sr.left, g.src_w = std::int64_t{sr.right} - sr.left;
  g.src_y = sr.top, g.src_h = std::int64_t{sr.bottom} - sr.top;
  g.dst_x = dr.left, g.dst_w = std::int64_t{dr.right} - dr.left;
  g.dst_y = dr.top, g.dst_h = std::int64_t{dr.bottom} - dr.top;
  g.out_x = std::max<std::int64_t>(dr.left, 0);
  g.out_w = std::min<std::int64_t>(dr.right, dst.width()) - g.out_x;
  g.out_y = std::max<std::int64_t>(dr.top, 0);
  g.out_h = std::min<std::int64_t>(dr.bottom, dst.height()) - g.out_y;
  (void)src;
  return g;
}

// Runs the reference and the fast loops for each instruction set on copies
// of dst and reports the first pixel where one departs from the reference.
void ExpectFastMatchesReference(const PixelWorld& src, const PixelWorld& dst, const PF_LRect& sr, const PF_LRect& dr) {
  const std::string what = DepthName(src.depth()) + " " + std::to_string(src.width()) + "x" +
                           std::to_string(src.height()) + " src_r " + Str(sr) + " -> " + std::to_string(dst.width()) +
                           "x" + std::to_string(dst.height()) + " dst_r " + Str(dr);
  auto reference = Clone(dst);
  ASSERT_EQ(ScalingCopyReference(src.world(), reference->world(), &sr, &dr), PF_Err_NONE) << what;
  const ScaledCopyGeometry g = GeometryOf(src, dst, sr, dr);
  for (InstructionSet set : {InstructionSet::kAvx2, InstructionSet::kBaseline}) {
    auto fast = Clone(dst);
    ASSERT_TRUE(ScaledCopyFast(src.world(), fast->world(), g, set)) << what;
    EXPECT_EQ(FirstDifference(*fast, *reference), "")
        << (set == InstructionSet::kAvx2 ? "AVX2 loops, " : "baseline loops, ") << what;
  }
}

PF_LRect Whole(const PixelWorld& w) { return {0, 0, w.width(), w.height()}; }

// Where the AVX2 loops are compiled, the machine running the tests must
// execute them, or the comparisons below would quietly test the baseline
// twice.
TEST(ScalingCopyFast, TheMachineRunningTheTestsRunsEveryCompiledPath) {
#if defined(TOVANE_COPY_HAS_AVX2)
  EXPECT_TRUE(ScaledCopyFastRuns(InstructionSet::kAvx2))
      << "this processor has no AVX2, so the AVX2 loops of the scaled copy go untested here";
#endif
  EXPECT_TRUE(ScaledCopyFastRuns(InstructionSet::kBaseline));
}

TEST(ScalingCopyFast, MatchesTheReferenceAcrossScalesAndOddSizes) {
  struct Case {
    A_long sw, sh, dw, dh;
  };
  // Enlarging by a ratio that is no fraction of a power of two (720 to 1080
  // in small), halving, a factor that leaves three taps, stretching one axis
  // while squeezing the other, and extreme ratios. Tripling leaves every
  // third row and column one tap, between rows and groups of columns with
  // two; odd widths leave a last group of columns part empty.
  const Case cases[] = {{128, 72, 192, 108}, {161, 91, 243, 137}, {322, 182, 161, 91}, {100, 60, 37, 23},
                        {300, 20, 97, 61},   {7, 5, 640, 3},      {500, 9, 3, 9},      {1, 1, 33, 17},
                        {40, 30, 120, 90},   {13, 11, 41, 35},    {9, 40, 5, 121}};
  for (BitDepth depth : kDepths) {
    for (const Case& c : cases) {
      PixelWorld src(c.sw, c.sh, depth, 3), dst(c.dw, c.dh, depth, 1);
      FillRandom(src, static_cast<std::uint32_t>(c.sw * 31 + c.dh));
      FillRandom(dst, 99);
      ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
    }
  }
}

TEST(ScalingCopyFast, MatchesTheReferenceWithRectanglesPartlyOutsideTheWorlds) {
  // Source windows reaching past the layer ("Center" with a small layer),
  // destination rectangles overhanging the output, and both at once.
  const std::uint32_t seed = 7041;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> size(5, 60), offset(-25, 25), extent(2, 90);
  for (int round = 0; round < 120; ++round) {
    const BitDepth depth = kDepths[round % 3];
    PixelWorld src(size(rng), size(rng), depth, round % 2), dst(size(rng), size(rng), depth, round % 3);
    FillRandom(src, seed + round);
    FillRandom(dst, seed - round);
    const A_long sl = offset(rng), st = offset(rng), dl = offset(rng), dt = offset(rng);
    const PF_LRect sr{sl, st, sl + extent(rng), st + extent(rng)}, dr{dl, dt, dl + extent(rng), dt + extent(rng)};
    if (sr.right - sr.left == dr.right - dr.left && sr.bottom - sr.top == dr.bottom - dr.top) continue;
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    ExpectFastMatchesReference(src, dst, sr, dr);
  }
}

TEST(ScalingCopyFast, RoundsHalvesAndClampsAsTheReference) {
  // Few distinct values make exact halves common (10 and 11 averaged give
  // 10.5), zero alpha takes the unweighted branch, and full values meet the
  // clamp: each is where a rounding shortcut would part from lround.
  const int levels8[] = {0, 1, 2, 127, 128, 254, 255};
  const int levels16[] = {0, 1, 2, 16383, 16384, 32767, 32768};
  for (BitDepth depth : {BitDepth::k8, BitDepth::k16}) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 6);
    const int* levels = depth == BitDepth::k8 ? levels8 : levels16;
    PixelWorld src(64, 48, depth);
    for (A_long y = 0; y < 48; ++y)
      for (A_long x = 0; x < 64; ++x) {
        if (depth == BitDepth::k8) {
          src.At<PF_Pixel8>(x, y) = {A_u_char(levels[pick(rng)]), A_u_char(levels[pick(rng)]),
                                     A_u_char(levels[pick(rng)]), A_u_char(levels[pick(rng)])};
        } else {
          src.At<PF_Pixel16>(x, y) = {A_u_short(levels[pick(rng)]), A_u_short(levels[pick(rng)]),
                                      A_u_short(levels[pick(rng)]), A_u_short(levels[pick(rng)])};
        }
      }
    for (const auto& [dw, dh] : {std::pair{32, 24}, std::pair{128, 96}, std::pair{96, 72}, std::pair{21, 16}}) {
      PixelWorld dst(dw, dh, depth);
      ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
    }
  }
}

TEST(ScalingCopyFast, TransparentAreasTakeTheUnweightedBranchAsTheReference) {
  // Colour under zero alpha: footprints wholly inside the clear half take
  // the plain average, those on its edge the alpha-weighted one, so pixels
  // filtered side by side follow different branches.
  for (BitDepth depth : kDepths) {
    PixelWorld src(57, 33, depth);
    FillRandom(src, 21);
    for (A_long y = 0; y < 33; ++y)
      for (A_long x = 0; x < 57; ++x)
        if (x < 28 || (x + y) % 5 == 0) {
          PF_PixelFloat p = src.Get(x, y);
          p.alpha = 0.0f;
          src.Set(x, y, p);
        }
    for (const auto& [dw, dh] : {std::pair{86, 50}, std::pair{114, 66}, std::pair{28, 16}}) {
      PixelWorld dst(dw, dh, depth);
      ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
    }
  }
}

TEST(ScalingCopyFast, FloatValuesOutsideTheUnitRangeFollowTheReference) {
  // HDR colour, negative and zero-summing alpha, and infinities: the float
  // loops must skip the zero-weight slots that integer loops may read.
  const float values[] = {0.0f, 1.0f, -1.0f, 4.5f, -0.25f, std::numeric_limits<float>::infinity(), 1e-30f};
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> pick(0, 6);
  PixelWorld src(40, 30, BitDepth::k32);
  for (A_long y = 0; y < 30; ++y)
    for (A_long x = 0; x < 40; ++x)
      src.At<PF_PixelFloat>(x, y) = {values[pick(rng)], values[pick(rng)], values[pick(rng)], values[pick(rng)]};
  // 120 x 90 enlarges three times: every third column and row falls on a
  // pixel centre and has one real tap beside a padding slot.
  for (const auto& [dw, dh] : {std::pair{20, 15}, std::pair{61, 45}, std::pair{120, 90}, std::pair{13, 50}}) {
    PixelWorld dst(dw, dh, BitDepth::k32);
    ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
  }
}

TEST(ScalingCopyFast, OpaqueFloatFootageKeepsItsColourWhereAlphaSumsToOne) {
  // Opaque pixels under bilinear weights sum alpha to exactly 1 at 720 to
  // 1080 lines, where the colour sums are the result without a division;
  // the colours here include what a shortcut might mishandle (negative
  // zero, infinities, NaN, HDR), and a translucent patch puts groups of
  // columns that must divide beside groups that need not.
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float colours[] = {0.0f, -0.0f, 1.0f, 0.25f, 7.5f, -2.0f, inf, -inf, nan, 1e-40f};
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> pick(0, 9);
  PixelWorld src(128, 72, BitDepth::k32);
  for (A_long y = 0; y < 72; ++y)
    for (A_long x = 0; x < 128; ++x)
      src.At<PF_PixelFloat>(x, y) = {x > 50 && x < 60 && y < 20 ? 0.5f : 1.0f, colours[pick(rng)], colours[pick(rng)],
                                     colours[pick(rng)]};
  for (const auto& [dw, dh] : {std::pair{192, 108}, std::pair{256, 144}, std::pair{301, 77}}) {
    PixelWorld dst(dw, dh, BitDepth::k32);
    ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
  }
}

TEST(ScalingCopyFast, FloatColumnsWithFewerTapsIgnoreAnInfiniteFirstColumnAcrossTheRow) {
  // Columns with fewer taps than the widest read nothing in their spare
  // slots, which must count as 0 and never as a real pixel: here the
  // source's first column is infinite, so a spare slot read as a pixel turns
  // its column into NaN. Output rows many chunks wide, each of its own width,
  // put such columns at every place within a chunk and in a last, shorter
  // chunk; the stretch by three gives one spare slot in every third column,
  // the odd shrinks two or three taps by turns.
  PixelWorld src(67, 9, BitDepth::k32);
  FillRandom(src, 17);
  const float inf = std::numeric_limits<float>::infinity();
  for (A_long y = 0; y < 9; ++y) src.At<PF_PixelFloat>(0, y) = {inf, inf, -inf, inf};
  for (const auto& [dw, dh] : {std::pair{201, 27}, std::pair{29, 9}, std::pair{46, 4}, std::pair{131, 5}}) {
    PixelWorld dst(dw, dh, BitDepth::k32);
    ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
  }
}

TEST(ScalingCopyFast, FloatQuotientsOnAMidpointBetweenFloatsRoundAsTheReference) {
  // Two pixels stretched to four: the second output column sums 3/4 of the
  // first (alpha 1, colour c0) and 1/4 of the second (alpha a, colour c1).
  // These values make colour over alpha exactly halfway between two floats,
  // which the reference rounds to even; a product with the reciprocal of
  // alpha lands a unit off the double and rounds the other way, so the copy
  // must divide there.
  struct Case {
    float a, c0, c1;
  };
  const Case cases[] = {{0x1.68p-1f, 0x1.18e49cp+0f, 0x1.58b3fep-2f},
                        {0x1.2p-2f, 0x1.015a6ep+0f, 0x1.464c54p-3f},
                        {0x1.bp-1f, 0x1.20ad32p+0f, 0x1.449cd2p-2f},
                        {0x1.e8p-1f, 0x1.28954ap+0f, 0x1.99487p-5f}};
  for (const Case& c : cases) {
    PixelWorld src(2, 1, BitDepth::k32), dst(4, 1, BitDepth::k32);
    src.At<PF_PixelFloat>(0, 0) = {1.0f, c.c0, c.c0, c.c0};
    src.At<PF_PixelFloat>(1, 0) = {c.a, c.c1, c.c1, c.c1};
    ExpectFastMatchesReference(src, dst, Whole(src), Whole(dst));
  }
}

TEST(ScalingCopyFast, FrameSizedCopiesThroughTheHostCopyMatchTheReference) {
  // The benchmark's shapes at a quarter of their size, through the copy the
  // host hands the effect, same-size moves included.
  for (BitDepth depth : kDepths) {
    PixelWorld src(320, 180, depth), same(320, 180, depth), up(480, 270, depth), down(160, 90, depth, 2);
    FillRandom(src, 3);
    for (PixelWorld* dst : {&same, &up, &down}) {
      auto fast = Clone(*dst), reference = Clone(*dst);
      ASSERT_EQ(ScalingCopy(src.world(), fast->world(), nullptr, nullptr), PF_Err_NONE);
      ASSERT_EQ(ScalingCopyReference(src.world(), reference->world(), nullptr, nullptr), PF_Err_NONE);
      EXPECT_EQ(FirstDifference(*fast, *reference), "")
          << DepthName(depth) << " 320x180 -> " << dst->width() << "x" << dst->height();
    }
    // A same-size window partly outside both worlds keeps every value.
    const PF_LRect sr{-7, 11, 250, 200}, dr{30, -5, 287, 184};
    auto fast = Clone(same), reference = Clone(same);
    ASSERT_EQ(ScalingCopy(src.world(), fast->world(), &sr, &dr), PF_Err_NONE);
    ASSERT_EQ(ScalingCopyReference(src.world(), reference->world(), &sr, &dr), PF_Err_NONE);
    EXPECT_EQ(FirstDifference(*fast, *reference), "") << DepthName(depth) << " same-size window";
  }
}

}  // namespace
}  // namespace hostsim
