// Layer pixel sources: what a test or a person can read back from the frames
// they draw, at every depth and at downsampled sizes.
#include "PixelSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "ImageIO.h"
#include "PixelWorld.h"
#include "RoundToChannel.h"
#include "TextDraw.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;
constexpr BitDepth kDepths[] = {BitDepth::k8, BitDepth::k16, BitDepth::k32};

PF_Pixel8 As8(const PixelWorld& w, A_long x, A_long y) {
  PixelWorld one(1, 1, BitDepth::k8);
  one.Set(0, 0, w.Get(x, y));
  return one.At<PF_Pixel8>(0, 0);
}

class TempDir {
 public:
  TempDir()
      : path_(testing::FreshTempDir(std::string("tovane_pixels_") +
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name())) {}
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

TEST(PixelWorld, RecordsDescribeTheMemoryAndConversionsClamp) {
  for (BitDepth depth : kDepths) {
    PixelWorld w(5, 3, depth, 2);
    EXPECT_EQ(DepthOf(w.world()), depth);
    EXPECT_EQ(w.world().rowbytes, static_cast<A_long>(7 * BytesPerPixel(depth)));
    EXPECT_EQ(w.world().pix_aspect_ratio.num, 1);
    EXPECT_EQ(w.world().pix_aspect_ratio.den, 1u);
    const PF_PixelFloat start = w.Get(4, 2);
    EXPECT_TRUE(start.alpha == 0 && start.red == 0 && start.green == 0 && start.blue == 0);
    w.Set(4, 2, {std::nanf(""), 1.5f, -0.25f, 0.5f});
    const PF_PixelFloat p = w.Get(4, 2);
    if (depth == BitDepth::k32) {
      EXPECT_EQ(p.red, 1.5f);  // float worlds keep values outside 0..1
      EXPECT_EQ(p.green, -0.25f);
    } else {
      EXPECT_EQ(p.alpha, 0.0f);  // NaN
      EXPECT_EQ(p.red, 1.0f);
      EXPECT_EQ(p.green, 0.0f);
      EXPECT_NEAR(p.blue, 0.5f, 1.0f / 255);
    }
  }
  EXPECT_EQ(PixelWorld(4, 4, BitDepth::k16).world().world_flags & PF_WorldFlag_DEEP, PF_WorldFlag_DEEP);
  EXPECT_EQ(PixelWorld(4, 4, BitDepth::k32).world().world_flags & PF_WorldFlag_FLOAT, PF_WorldFlag_FLOAT);
  PixelWorld empty(0, 7, BitDepth::k8);
  EXPECT_EQ(empty.world().data, nullptr);
  EXPECT_THROW(PixelWorld(-1, 4, BitDepth::k8), std::invalid_argument);
  // Row bytes must fit the record's 32-bit field.
  EXPECT_THROW(PixelWorld(1 << 28, 1, BitDepth::k32), std::invalid_argument);
}

// Integer pixels and PNG samples round as the reference copy does, with
// std::lround; the values next to a half are where a shortcut such as
// adding 0.5 and truncating goes wrong.
TEST(PixelWorld, ChannelRoundingMatchesLround) {
  std::vector<double> values = {1e-300, 0.25, 0.5, 0.75, 1.0, 254.5, 65534.5, 2147483646.5};
  for (double half = 0.5; half < 70000.0; half += 997.0) {
    values.push_back(half);
    values.push_back(std::nextafter(half, 0.0));
    values.push_back(std::nextafter(half, 1e9));
  }
  for (double v : values) EXPECT_EQ(RoundPositive(v), std::lround(v)) << std::hexfloat << v;

  // Every integer level survives a round trip through float.
  PixelWorld eight(1, 1, BitDepth::k8), sixteen(1, 1, BitDepth::k16);
  for (int level = 0; level <= PF_MAX_CHAN8; ++level) {
    const float v = static_cast<float>(level) / PF_MAX_CHAN8;
    eight.Set(0, 0, {v, v, v, v});
    ASSERT_EQ(eight.At<PF_Pixel8>(0, 0).red, level);
  }
  for (int level = 0; level <= PF_MAX_CHAN16; ++level) {
    const float v = static_cast<float>(level) / PF_MAX_CHAN16;
    sixteen.Set(0, 0, {v, v, v, v});
    ASSERT_EQ(sixteen.At<PF_Pixel16>(0, 0).blue, level);
  }
}

TEST(FrameCard, ColoursIdentifyEveryIndexModulo512EvenAfterFiltering) {
  std::set<std::tuple<int, int, int>> seen;
  for (A_long i = 0; i < 512; ++i) {
    const PF_Pixel8 c = FrameCardColor(i);
    EXPECT_EQ(c.alpha, 255);
    EXPECT_TRUE(seen.insert({c.red, c.green, c.blue}).second) << "index " << i << " repeats a colour";
    EXPECT_EQ(FrameCardIndexOf(c), i);
    // Filtering and 16-bit round trips move channels a little.
    PF_Pixel8 nudged = c;
    nudged.red = static_cast<A_u_char>(c.red > 128 ? c.red - 10 : c.red + 10);
    nudged.blue = static_cast<A_u_char>(c.blue > 128 ? c.blue - 9 : c.blue + 9);
    EXPECT_EQ(FrameCardIndexOf(nudged), i);
  }
  EXPECT_EQ(FrameCardIndexOf(FrameCardColor(512 + 37)), 37);
  EXPECT_EQ(FrameCardIndexOf(FrameCardColor(-1)), 511);
  // Between levels, dark ink, and transparency read as no card.
  EXPECT_EQ(FrameCardIndexOf({255, 55, 40, 40}), -1);
  EXPECT_EQ(FrameCardIndexOf({255, 13, 13, 13}), -1);
  EXPECT_EQ(FrameCardIndexOf({0, 40, 40, 40}), -1);
}

TEST(FrameCard, BorderBandShowsTheFrameColourAtEveryDepthAndSize) {
  const FrameCardSource card("PORTRAIT");
  const std::pair<A_long, A_long> sizes[] = {{1280, 720}, {320, 180}, {90, 160}, {7, 3}, {1, 1}};
  for (BitDepth depth : kDepths)
    for (auto [w, h] : sizes) {
      SCOPED_TRACE(std::to_string(static_cast<int>(depth)) + "-bit " + std::to_string(w) + "x" + std::to_string(h));
      PixelWorld world(w, h, depth);
      card.DrawFrame(149, world);
      const A_long band = std::max<A_long>(std::min(w, h) / 32, 1);
      for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) {
          if (x < band || y < band || x >= w - band || y >= h - band) {
            ASSERT_EQ(FrameCardIndexOf(As8(world, x, y)), 149) << "band pixel " << x << "," << y;
          }
        }
    }
}

TEST(FrameCard, DigitsAreDrawnLargeInTheMiddle) {
  PixelWorld a(640, 360, BitDepth::k8), b(640, 360, BitDepth::k8);
  FrameCardSource().DrawFrame(10, a);
  FrameCardSource().DrawFrame(11, b);
  // The middle third holds the number: plenty of white there, and the two
  // numbers' strokes differ beyond their background colour.
  int white = 0, differing_strokes = 0;
  for (A_long y = 120; y < 240; ++y)
    for (A_long x = 160; x < 480; ++x) {
      const PF_Pixel8 p = a.At<PF_Pixel8>(x, y), q = b.At<PF_Pixel8>(x, y);
      const bool pw = p.red == 255 && p.green == 255 && p.blue == 255;
      const bool qw = q.red == 255 && q.green == 255 && q.blue == 255;
      white += pw;
      differing_strokes += pw != qw;
    }
  EXPECT_GT(white, 120 * 320 / 20);
  EXPECT_GT(differing_strokes, 500);
}

TEST(GeneratedSources, PatternsScaleWithTheSizeAskedFor) {
  // Checker cells are counted in full-size layer pixels, so at half size a
  // 64-pixel cell is 32 pixels wide.
  const CheckerSource checker(64, 1280, 720);
  PixelWorld full(1280, 720, BitDepth::k16), half(640, 360, BitDepth::k16);
  checker.DrawFrame(0, full);
  checker.DrawFrame(5, half);
  EXPECT_GT(full.Get(0, 0).red, full.Get(64, 0).red);  // top-left cell is light
  EXPECT_EQ(full.Get(63, 0).red, full.Get(0, 0).red);
  EXPECT_EQ(half.Get(31, 0).red, full.Get(0, 0).red);
  EXPECT_EQ(half.Get(32, 0).red, full.Get(64, 0).red);
  EXPECT_EQ(half.Get(32, 32).red, full.Get(0, 0).red);

  PixelWorld ramp(50, 20, BitDepth::k32);
  GradientSource().DrawFrame(0, ramp);
  for (A_long x = 1; x < 50; ++x) ASSERT_GT(ramp.Get(x, 10).red, ramp.Get(x - 1, 10).red);
  for (A_long y = 1; y < 20; ++y) ASSERT_GT(ramp.Get(25, y).green, ramp.Get(25, y - 1).green);
  EXPECT_EQ(ramp.Get(0, 0).alpha, 1.0f);
  EXPECT_EQ(GradientSource().frame_count(), 0);
  EXPECT_THROW(CheckerSource(0, 10, 10), std::invalid_argument);
}

TEST(PngSource, NumberedSequenceServesEachFileScaledToTheLayer) {
  TempDir dir;
  for (A_long n = 7; n <= 9; ++n) {
    PixelWorld frame(64, 36, BitDepth::k8);
    FrameCardSource().DrawFrame(n * 10, frame);
    char name[32];
    std::snprintf(name, sizeof name, "shot_%03d.png", static_cast<int>(n));
    WritePng(frame.world(), dir / name);
  }
  const PngSource sequence(dir / "shot_%03d.png", 7);
  EXPECT_EQ(sequence.frame_count(), 3);
  EXPECT_EQ(sequence.PathOf(2), dir / "shot_009.png");
  for (BitDepth depth : kDepths) {
    PixelWorld layer(128, 72, depth);
    sequence.DrawFrame(1, layer);
    EXPECT_EQ(FrameCardIndexOf(As8(layer, 0, 0)), 80);
    EXPECT_EQ(FrameCardIndexOf(As8(layer, 127, 71)), 80);
  }
  PixelWorld layer(64, 36, BitDepth::k8);
  EXPECT_THROW(sequence.DrawFrame(3, layer), PixelSourceError);
  EXPECT_THROW(sequence.DrawFrame(-1, layer), PixelSourceError);

  // A still shows its one file at any index.
  const PngSource still(dir / "shot_008.png");
  EXPECT_EQ(still.frame_count(), 0);
  still.DrawFrame(1000, layer);
  EXPECT_EQ(FrameCardIndexOf(layer.At<PF_Pixel8>(0, 0)), 80);
}

TEST(PngSource, AStillIsDecodedOnceAndLargeFilesAreRefused) {
  TempDir dir;
  PixelWorld card(64, 36, BitDepth::k8);
  FrameCardSource().DrawFrame(21, card);
  WritePng(card.world(), dir / "still.png");
  const PngSource still(dir / "still.png");
  PixelWorld layer(128, 72, BitDepth::k16);
  still.DrawFrame(0, layer);
  // Frames after the first come from the decoded image kept by the source,
  // so they draw even with the file gone; another depth reads it again.
  fs::remove(dir / "still.png");
  PixelWorld later(128, 72, BitDepth::k16);
  still.DrawFrame(7, later);
  EXPECT_EQ(FrameCardIndexOf(As8(later, 0, 0)), 21);
  PixelWorld eight(128, 72, BitDepth::k8);
  EXPECT_THROW(still.DrawFrame(7, eight), PixelSourceError);

  // 64 x 36 at 8 bits reads into 4 bytes of samples and 4 of world a pixel.
  WritePng(card.world(), dir / "still.png");
  const PngSource tight(dir / "still.png", 1, 64 * 36 * 8 - 1);
  try {
    tight.DrawFrame(0, eight);
    ADD_FAILURE() << "read above the source's memory limit";
  } catch (const PixelSourceError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "still.png"), std::string::npos) << e.what();
  }
}

TEST(PngSource, PatternsOtherThanOneFrameNumberAreRefused) {
  TempDir dir;
  PixelWorld frame(4, 4, BitDepth::k8);
  WritePng(frame.world(), dir / "100%_1.png");
  // A literal percent sign is written twice and stays literal.
  EXPECT_EQ(PngSource(dir / "100%%_%d.png", 1).frame_count(), 1);
  for (const char* bad : {"%s.png", "%d_%d.png", "%x.png", "%n.png", "%-5d.png", "%.png", "%99d.png"})
    EXPECT_THROW(PngSource(dir / bad, 1), PixelSourceError) << bad;
  EXPECT_THROW(PngSource(dir / "missing_%04d.png", 1), PixelSourceError);
  EXPECT_THROW(PngSource(dir / "missing.png"), PixelSourceError);
  std::FILE* f = std::fopen((dir / "fake.png").c_str(), "wb");
  std::fputs("not an image", f);
  std::fclose(f);
  EXPECT_THROW(PngSource(dir / "fake.png"), PixelSourceError);
}

TEST(TextDraw, TextRunningOffTheWorldIsClipped) {
  PixelWorld world(20, 10, BitDepth::k8);
  DrawTextOutlined(world, -7, -3, "Whole 50%", 3, {1, 1, 1, 1}, {1, 0, 0, 0});
  DrawText(world, 15, 8, "NO MARGIN", 100, {1, 1, 1, 1});
  DrawText(world, INT32_MAX - 5, INT32_MIN + 5, "X", 1000000, {1, 1, 1, 1});
  EXPECT_EQ(TextWidth("AB", 2), (2 * kGlyphAdvanceX - 1) * 2);
  EXPECT_EQ(TextWidth("", 2), 0);
}

}  // namespace
}  // namespace hostsim
