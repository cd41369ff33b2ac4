// Image files: what a render writes must read back as the pixels it held,
// through libpng and through the built-in codecs used where libpng is absent.
#include "ImageIO.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "PixelWorld.h"
#include "pixel_test_util.h"

#if defined(TOVANE_TEST_HAVE_OPENEXR)
#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <ImfHeader.h>
#include <ImfChannelList.h>
#endif

namespace hostsim {
namespace {

namespace fs = std::filesystem;
using testing::FillRandom;
using testing::FirstDifference;

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::FreshTempDir(std::string("tovane_image_io_") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

using Writer = void (*)(const PF_EffectWorld&, const std::string&, int);
using Reader = std::unique_ptr<PixelWorld> (*)(const std::string&, BitDepth);

TEST_F(ImageFiles, PngRoundTripsEveryValueThroughEitherCodec) {
  const std::pair<Writer, Reader> codecs[] = {{WritePng, ReadPng},
                                              {WritePngBuiltIn, ReadPng},
                                              {WritePng, ReadPngBuiltIn},
                                              {WritePngBuiltIn, ReadPngBuiltIn}};
  int pair = 0;
  for (auto [write, read] : codecs) {
    SCOPED_TRACE("codec pair " + std::to_string(pair++));
    // 8 bits: random pixels, padded rows.
    PixelWorld eight(33, 17, BitDepth::k8, 3);
    FillRandom(eight, 4);
    write(eight.world(), Path("eight.png"), 0);
    EXPECT_EQ(FirstDifference(*read(Path("eight.png"), BitDepth::k8), eight), "");
    // 16 bits: every host value 0..32768 survives the trip through 0..65535.
    PixelWorld sixteen(257, 128, BitDepth::k16);
    for (A_long y = 0; y < 128; ++y)
      for (A_long x = 0; x < 257; ++x) {
        const auto v = static_cast<A_u_short>(std::min<A_long>(y * 257 + x, PF_MAX_CHAN16));
        sixteen.At<PF_Pixel16>(x, y) = {v, v, static_cast<A_u_short>(PF_MAX_CHAN16 - v), v};
      }
    write(sixteen.world(), Path("sixteen.png"), 0);
    EXPECT_EQ(FirstDifference(*read(Path("sixteen.png"), BitDepth::k16), sixteen), "");
  }
}

TEST_F(ImageFiles, PngStoresFullRangeAndConvertsBetweenDepths) {
  PixelWorld world(2, 1, BitDepth::k16);
  world.At<PF_Pixel16>(0, 0) = {PF_MAX_CHAN16, PF_MAX_CHAN16, 16384, 0};
  WritePng(world.world(), Path("range.png"));
  // Read back at 8 bits: host full scale is PNG full scale.
  auto eight = ReadPng(Path("range.png"), BitDepth::k8);
  EXPECT_EQ(eight->At<PF_Pixel8>(0, 0).alpha, 255);
  EXPECT_EQ(eight->At<PF_Pixel8>(0, 0).green, 128);
  EXPECT_EQ(eight->At<PF_Pixel8>(1, 0).alpha, 0);
  // Float worlds are clamped to the PNG range.
  PixelWorld hdr(1, 1, BitDepth::k32);
  hdr.At<PF_PixelFloat>(0, 0) = {1.0f, 4.0f, -1.0f, 0.5f};
  WritePng(hdr.world(), Path("hdr.png"), 8);
  const PF_Pixel8 p = ReadPng(Path("hdr.png"), BitDepth::k8)->At<PF_Pixel8>(0, 0);
  EXPECT_EQ(p.red, 255);
  EXPECT_EQ(p.green, 0);
  EXPECT_EQ(p.blue, 128);
  EXPECT_EQ(ImageSize{}.width, 0);
  EXPECT_EQ(ReadPngSize(Path("hdr.png")).width, 1);
}

TEST_F(ImageFiles, FailuresNameTheFile) {
  PixelWorld world(4, 4, BitDepth::k8), empty(0, 4, BitDepth::k8);
  const std::string nowhere = Path("no/such/dir/x.png");
  try {
    WritePng(world.world(), nowhere);
    FAIL() << "wrote into a missing directory";
  } catch (const ImageIoError& e) {
    EXPECT_NE(std::string(e.what()).find(nowhere), std::string::npos) << e.what();
  }
  EXPECT_THROW(WritePngBuiltIn(world.world(), nowhere), ImageIoError);
  EXPECT_THROW(WriteExr(world.world(), Path("no/such/x.exr")), ImageIoError);
  EXPECT_THROW(WritePng(empty.world(), Path("empty.png")), ImageIoError);
  EXPECT_THROW(WriteExrBuiltIn(empty.world(), Path("empty.exr")), ImageIoError);
  EXPECT_THROW(WritePng(world.world(), Path("bits.png"), 12), ImageIoError);
  std::FILE* f = std::fopen(Path("text.png").c_str(), "wb");
  std::fputs("\x89PNG\r\n\x1a\n but then nothing sensible", f);
  std::fclose(f);
  EXPECT_THROW(ReadPng(Path("text.png"), BitDepth::k8), ImageIoError);
  EXPECT_THROW(ReadPngBuiltIn(Path("text.png"), BitDepth::k8), ImageIoError);
  EXPECT_THROW(ReadPng(Path("absent.png"), BitDepth::k8), ImageIoError);
}

TEST_F(ImageFiles, RenderOutputsPickTheFormatByDepth) {
  PixelWorld eight(3, 2, BitDepth::k8), deep(3, 2, BitDepth::k16), flt(3, 2, BitDepth::k32);
  EXPECT_EQ(WriteImage(eight.world(), Path("a")), Path("a.png"));
  EXPECT_EQ(WriteImage(deep.world(), Path("b")), Path("b.png"));
  EXPECT_EQ(WriteImage(flt.world(), Path("c")), Path("c.exr"));
  EXPECT_TRUE(fs::exists(Path("c.exr")));
  EXPECT_EQ(ReadPngSize(Path("b.png")).height, 2);
}

#if defined(TOVANE_TEST_HAVE_OPENEXR)
// Reads an EXR's R, G, B, A as floats with libOpenEXR.
std::vector<float> ReadExr(const std::string& path, int& w, int& h) {
  Imf::InputFile file(path.c_str());
  const Imath::Box2i dw = file.header().dataWindow();
  w = dw.max.x - dw.min.x + 1;
  h = dw.max.y - dw.min.y + 1;
  std::vector<float> rgba(static_cast<std::size_t>(w) * h * 4);
  Imf::FrameBuffer fb;
  const char* names[4] = {"R", "G", "B", "A"};
  for (int c = 0; c < 4; ++c)
    fb.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(rgba.data() + c), 4 * sizeof(float),
                                   4 * sizeof(float) * w));
  file.setFrameBuffer(fb);
  file.readPixels(dw.min.y, dw.max.y);
  return rgba;
}

TEST_F(ImageFiles, ExrHoldsFloatValuesExactlyWithEitherWriter) {
  PixelWorld world(19, 7, BitDepth::k32, 2);
  FillRandom(world, 12);
  world.At<PF_PixelFloat>(3, 3) = {1.0f, 7.5f, -0.25f, 1e-8f};  // out-of-range values are kept
  for (auto write : {WriteExr, WriteExrBuiltIn}) {
    write(world.world(), Path("f.exr"));
    int w = 0, h = 0;
    const std::vector<float> rgba = ReadExr(Path("f.exr"), w, h);
    ASSERT_EQ(w, 19);
    ASSERT_EQ(h, 7);
    for (A_long y = 0; y < h; ++y)
      for (A_long x = 0; x < w; ++x) {
        const PF_PixelFloat p = world.At<PF_PixelFloat>(x, y);
        const float* q = &rgba[(static_cast<std::size_t>(y) * w + x) * 4];
        ASSERT_TRUE(q[0] == p.red && q[1] == p.green && q[2] == p.blue && q[3] == p.alpha)
            << "pixel " << x << "," << y;
      }
  }
}
#endif

}  // namespace
}  // namespace hostsim
