// Image files: what a render writes must read back as the pixels it held,
// and a file that is broken or too large for memory must be refused with a
// message that says which file and why, before it takes the memory.
#include "ImageIO.h"

#include <gtest/gtest.h>
#include <tinyexr.h>
#include <zlib.h>

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "PixelWorld.h"
#include "pixel_test_util.h"

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

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ImageIoError& e) {
    return e.what();
  }
  return "no ImageIoError";
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ImageFiles, PngRoundTripsEveryValue) {
  // 8 bits: random pixels, padded rows.
  PixelWorld eight(33, 17, BitDepth::k8, 3);
  FillRandom(eight, 4);
  WritePng(eight.world(), Path("eight.png"), 0);
  EXPECT_EQ(FirstDifference(*ReadPng(Path("eight.png"), BitDepth::k8), eight), "");
  // 16 bits: every host value 0..32768 survives the trip through 0..65535.
  PixelWorld sixteen(257, 128, BitDepth::k16);
  for (A_long y = 0; y < 128; ++y)
    for (A_long x = 0; x < 257; ++x) {
      const auto v = static_cast<A_u_short>(std::min<A_long>(y * 257 + x, PF_MAX_CHAN16));
      sixteen.At<PF_Pixel16>(x, y) = {v, v, static_cast<A_u_short>(PF_MAX_CHAN16 - v), v};
    }
  WritePng(sixteen.world(), Path("sixteen.png"), 0);
  EXPECT_EQ(FirstDifference(*ReadPng(Path("sixteen.png"), BitDepth::k16), sixteen), "");
  // Noise barely compresses: the deflated rows leave zlib in many pieces.
  PixelWorld noise(300, 200, BitDepth::k16);
  FillRandom(noise, 8);
  WritePng(noise.world(), Path("noise.png"), 0);
  EXPECT_EQ(FirstDifference(*ReadPng(Path("noise.png"), BitDepth::k16), noise), "");
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
  EXPECT_THROW(WriteExr(world.world(), Path("no/such/x.exr")), ImageIoError);
  EXPECT_THROW(WritePng(empty.world(), Path("empty.png")), ImageIoError);
  EXPECT_THROW(WriteExr(empty.world(), Path("empty.exr")), ImageIoError);
  EXPECT_THROW(WritePng(world.world(), Path("bits.png"), 12), ImageIoError);
  std::FILE* f = std::fopen(Path("text.png").c_str(), "wb");
  std::fputs("\x89PNG\r\n\x1a\n but then nothing sensible", f);
  std::fclose(f);
  EXPECT_THROW(ReadPng(Path("text.png"), BitDepth::k8), ImageIoError);
  EXPECT_THROW(ReadPng(Path("absent.png"), BitDepth::k8), ImageIoError);

  // A sound header over broken pixel data: the message names the file and
  // the stage that failed, with the decoder's reason after it.
  PixelWorld picture(64, 64, BitDepth::k8);
  FillRandom(picture, 9);
  WritePng(picture.world(), Path("whole.png"));
  std::string bytes = ReadBytes(Path("whole.png"));
  for (std::size_t i = 60; i < bytes.size() - 20; i += 7) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  WriteBytes(Path("broken.png"), bytes);
  const std::string broken = MessageOf([&] { ReadPng(Path("broken.png"), BitDepth::k8); });
  EXPECT_NE(broken.find(Path("broken.png") + ": the IDAT chunk at byte 33 has a wrong checksum"), std::string::npos)
      << broken;
  const std::string cut = MessageOf([&] {
    WriteBytes(Path("cut.png"), ReadBytes(Path("whole.png")).substr(0, 100));
    ReadPng(Path("cut.png"), BitDepth::k8);
  });
  EXPECT_NE(cut.find(Path("cut.png") + ": the IDAT chunk at byte 33 claims "), std::string::npos) << cut;
  EXPECT_NE(cut.find("but the file ends after 59"), std::string::npos) << cut;
}

// ---- Damaged files the decoder would misread ---------------------------------

// The decoder skips checksums: a file changed anywhere decoded, before, to
// other pixels or with its damage unseen. Every single changed byte of a
// file, wherever it falls (signature, a chunk's length, type, data or
// checksum), is now refused naming the file.
TEST_F(ImageFiles, AChangeAnywhereInAFileIsRefused) {
  for (const BitDepth depth : {BitDepth::k8, BitDepth::k16}) {
    PixelWorld picture(5, 3, depth);
    FillRandom(picture, 21);
    WritePng(picture.world(), Path("whole.png"));
    const std::string whole = ReadBytes(Path("whole.png"));
    for (std::size_t i = 0; i < whole.size(); ++i) {
      for (const unsigned char flip : {0x01, 0x80}) {
        std::string bytes = whole;
        bytes[i] = static_cast<char>(bytes[i] ^ flip);
        WriteBytes(Path("changed.png"), bytes);
        const std::string refused = MessageOf([&] { ReadPng(Path("changed.png"), depth); });
        EXPECT_EQ(refused.rfind(Path("changed.png") + ": ", 0), 0u)
            << "byte " << i << " ^ " << int{flip} << " of " << whole.size() << ": " << refused;
      }
    }
  }
}

// A PNG of palette indices, written here because the library writes RGBA
// only: `indices` one a pixel, rows of `width`, at `bits` per index.
std::string PalettePng(std::uint32_t width, const std::vector<unsigned char>& indices, int bits, int entries,
                       bool interlaced) {
  const auto big32 = [](std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
  };
  const auto chunk = [&](std::string& out, const char* type, const std::string& data) {
    big32(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    out += body;
    big32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  };
  const std::uint32_t height = static_cast<std::uint32_t>(indices.size() / width);
  // Each pass's rows, packed, with filter "none".
  static const int kStart[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
  static const int kStep[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
  std::string raw;
  for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
    const std::uint32_t x0 = interlaced ? kStart[pass][0] : 0, y0 = interlaced ? kStart[pass][1] : 0;
    const std::uint32_t dx = interlaced ? kStep[pass][0] : 1, dy = interlaced ? kStep[pass][1] : 1;
    if (x0 >= width || y0 >= height) continue;
    for (std::uint32_t y = y0; y < height; y += dy) {
      raw += '\0';
      std::string row((((width - x0 + dx - 1) / dx) * static_cast<std::uint32_t>(bits) + 7) / 8, '\0');
      std::uint32_t n = 0;
      for (std::uint32_t x = x0; x < width; x += dx, ++n) {
        const std::uint32_t bit = n * static_cast<std::uint32_t>(bits);
        row[bit / 8] = static_cast<char>(row[bit / 8] | (indices[y * width + x] << (8 - bits - bit % 8)));
      }
      raw += row;
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packed_size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  packed.resize(packed_size);
  std::string file = "\x89PNG\r\n\x1a\n", header;
  big32(header, width);
  big32(header, height);
  header += static_cast<char>(bits);
  header += std::string("\x03\0\0", 3) + static_cast<char>(interlaced ? 1 : 0);
  chunk(file, "IHDR", header);
  std::string palette;
  for (int i = 0; i < entries; ++i) palette += {static_cast<char>(i), static_cast<char>(255 - i), '\x7f'};
  chunk(file, "PLTE", palette);
  chunk(file, "IDAT", packed);
  chunk(file, "IEND", "");
  return file;
}

// Indices past a short palette made the decoder fill pixels from memory it
// never set. At every index width, interlaced or not, one index past the
// palette anywhere is refused naming the pixel; indices within it decode to
// their palette colours.
TEST_F(ImageFiles, PaletteIndicesPastThePaletteAreRefused) {
  const std::uint32_t width = 11, height = 9;
  for (const int bits : {1, 2, 4, 8}) {
    for (const bool interlaced : {false, true}) {
      const int entries = bits == 1 ? 1 : (1 << bits) - 1;
      std::vector<unsigned char> indices(width * height);
      for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<unsigned char>(i % entries);
      const std::string what = std::to_string(bits) + " bits" + (interlaced ? ", interlaced" : "");
      WriteBytes(Path("fits.png"), PalettePng(width, indices, bits, entries, interlaced));
      const std::unique_ptr<PixelWorld> read = ReadPng(Path("fits.png"), BitDepth::k8);
      for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
          ASSERT_EQ(read->At<PF_Pixel8>(static_cast<A_long>(x), static_cast<A_long>(y)).red, indices[y * width + x])
              << what << " at " << x << ", " << y;
      for (const std::uint32_t at : {0u, 5u, width * height / 2 + 3, width * height - 1}) {
        std::vector<unsigned char> past = indices;
        past[at] = static_cast<unsigned char>(entries);
        WriteBytes(Path("past.png"), PalettePng(width, past, bits, entries, interlaced));
        const std::string refused = MessageOf([&] { ReadPng(Path("past.png"), BitDepth::k8); });
        const std::string pixel = "(" + std::to_string(at % width) + ", " + std::to_string(at / width) + ")";
        EXPECT_NE(refused.find(Path("past.png") + ": the pixel at " + pixel + " uses palette entry " +
                               std::to_string(entries)),
                  std::string::npos)
            << what << ": " << refused;
      }
    }
  }
}

// A PNG's header says how large the image is; a read that believed it blindly
// took gigabytes and many seconds for a file of a few bytes.
TEST_F(ImageFiles, ReadsAboveTheMemoryLimitAreRefusedFromTheHeader) {
  // Signature, an IHDR claiming 23000 x 23000 RGBA, a token IDAT and IEND.
  std::string png("\x89PNG\r\n\x1a\n", 8);
  const auto chunk = [&png](const std::string& type, const std::string& data) {
    const auto be32 = [](std::uint32_t v) {
      return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const std::string body = type + data;
    png += be32(static_cast<std::uint32_t>(data.size())) + body +
           be32(static_cast<std::uint32_t>(
               crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  };
  chunk("IHDR", std::string("\0\0\x59\xd8\0\0\x59\xd8\x08\x06\0\0\0", 13));
  chunk("IDAT", std::string("\x78\x9c\x63\0\0\0\x01\0\x01", 9));
  chunk("IEND", "");
  ASSERT_LT(png.size(), 100u);
  WriteBytes(Path("claims.png"), png);
  EXPECT_EQ(ReadPngSize(Path("claims.png")).width, 23000);
  const std::string claim = MessageOf([&] { ReadPng(Path("claims.png"), BitDepth::k8); });
  EXPECT_NE(claim.find(Path("claims.png") + ": 23000x23000 pixels"), std::string::npos) << claim;
  EXPECT_NE(claim.find("above the 2048.0 MiB limit"), std::string::npos) << claim;

  // A real image of 1024 x 1024 that compresses to almost nothing. At 8 bits
  // it takes 4 MiB of samples and 4 MiB of world: exactly that budget
  // reads, one byte less does not, and a float world counts its 16 MiB.
  PixelWorld large(1024, 1024, BitDepth::k8);
  WritePng(large.world(), Path("large.png"));
  EXPECT_LT(fs::file_size(Path("large.png")), 32u * 1024);  // zlib's fastest level: about 20 KiB
  const std::size_t need = std::size_t{1024} * 1024 * 8;
  EXPECT_EQ(ReadPng(Path("large.png"), BitDepth::k8, need)->width(), 1024);
  const std::string over = MessageOf([&] { ReadPng(Path("large.png"), BitDepth::k8, need - 1); });
  EXPECT_NE(over.find(Path("large.png") + ": 1024x1024 pixels of 8 bits"), std::string::npos) << over;
  EXPECT_NE(MessageOf([&] { ReadPng(Path("large.png"), BitDepth::k32, need); }), "no ImageIoError");
}

TEST_F(ImageFiles, RenderOutputsPickTheFormatByDepth) {
  PixelWorld eight(3, 2, BitDepth::k8), deep(3, 2, BitDepth::k16), flt(3, 2, BitDepth::k32);
  EXPECT_EQ(WriteImage(eight.world(), Path("a")), Path("a.png"));
  EXPECT_EQ(WriteImage(deep.world(), Path("b")), Path("b.png"));
  EXPECT_EQ(WriteImage(flt.world(), Path("c")), Path("c.exr"));
  EXPECT_TRUE(fs::exists(Path("c.exr")));
  EXPECT_EQ(ReadPngSize(Path("b.png")).height, 2);
}

// Reads an EXR's R, G, B, A as floats through tinyexr's reader.
std::vector<float> ReadExr(const std::string& path, int& w, int& h) {
  float* rgba = nullptr;
  const char* error = nullptr;
  if (LoadEXR(&rgba, &w, &h, path.c_str(), &error) != TINYEXR_SUCCESS) {
    ADD_FAILURE() << path << ": " << (error ? error : "unreadable");
    FreeEXRErrorMessage(error);
    return {};
  }
  std::vector<float> out(rgba, rgba + static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
  std::free(rgba);
  return out;
}

TEST_F(ImageFiles, ExrHoldsFloatValuesExactly) {
  PixelWorld world(19, 7, BitDepth::k32, 2);
  FillRandom(world, 12);
  world.At<PF_PixelFloat>(3, 3) = {1.0f, 7.5f, -0.25f, 1e-8f};  // out-of-range values are kept
  WriteExr(world.world(), Path("f.exr"));
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

}  // namespace
}  // namespace hostsim
