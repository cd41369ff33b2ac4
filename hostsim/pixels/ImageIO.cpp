#include "ImageIO.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "RoundToChannel.h"

#if defined(TOVANE_PIXELS_HAVE_LIBPNG)
#include <csetjmp>
#include <png.h>
#endif

#if defined(TOVANE_PIXELS_HAVE_OPENEXR)
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#endif

namespace hostsim {

// Implemented in StbCodec.cpp, the one file that compiles stb's sources.
namespace stbcodec {
bool Load(const std::string& path, int& width, int& height, bool& sixteen, std::vector<std::uint16_t>& rgba,
          std::string& error);
bool Deflate(const std::vector<unsigned char>& data, std::vector<unsigned char>& out);
}  // namespace stbcodec

namespace {

// RGBA of straight alpha, each channel 0..max (255 or 65535), row after row.
struct Raster {
  A_long width = 0;
  A_long height = 0;
  int bits = 8;
  std::vector<std::uint16_t> rgba;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw ImageIoError(path + ": " + what);
}

// A row of world pixels as 1.0-based doubles, red, green, blue and alpha for
// each pixel, exact for integer depths. The depth is looked at once a row:
// writing an image goes through here for every pixel.
void NormalizedRow(const PF_EffectWorld& world, A_long y, double* out) {
  const auto* row = static_cast<const unsigned char*>(world.data) + static_cast<std::ptrdiff_t>(y) * world.rowbytes;
  switch (DepthOf(world)) {
    case BitDepth::k8: {
      const auto* p = reinterpret_cast<const PF_Pixel8*>(row);
      for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = p[x].red / 255.0, out[1] = p[x].green / 255.0, out[2] = p[x].blue / 255.0;
        out[3] = p[x].alpha / 255.0;
      }
      return;
    }
    case BitDepth::k16: {
      const auto* p = reinterpret_cast<const PF_Pixel16*>(row);
      const double k = PF_MAX_CHAN16;
      for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = p[x].red / k, out[1] = p[x].green / k, out[2] = p[x].blue / k, out[3] = p[x].alpha / k;
      }
      return;
    }
    case BitDepth::k32: {
      const auto* p = reinterpret_cast<const PF_PixelFloat*>(row);
      for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = p[x].red, out[1] = p[x].green, out[2] = p[x].blue, out[3] = p[x].alpha;
      }
      return;
    }
  }
}

std::uint16_t Quantize(double v, double max) {
  if (!(v > 0.0)) return 0;
  if (v >= 1.0) return static_cast<std::uint16_t>(max);
  return static_cast<std::uint16_t>(RoundPositive(v * max));
}

void CheckWritable(const PF_EffectWorld& world, const std::string& path) {
  if (world.width <= 0 || world.height <= 0 || world.data == nullptr)
    Fail(path, "cannot write an image without pixels (" + std::to_string(world.width) + "x" +
                   std::to_string(world.height) + ")");
}

Raster RasterOf(const PF_EffectWorld& world, int bits, const std::string& path) {
  CheckWritable(world, path);
  if (bits == 0) bits = DepthOf(world) == BitDepth::k8 ? 8 : 16;
  if (bits != 8 && bits != 16) Fail(path, "PNG bits must be 8 or 16, not " + std::to_string(bits));
  Raster r;
  r.width = world.width;
  r.height = world.height;
  r.bits = bits;
  r.rgba.resize(static_cast<std::size_t>(world.width) * static_cast<std::size_t>(world.height) * 4);
  const double max = bits == 8 ? 255.0 : 65535.0;
  std::vector<double> line(static_cast<std::size_t>(world.width) * 4);
  std::size_t i = 0;
  for (A_long y = 0; y < world.height; ++y) {
    NormalizedRow(world, y, line.data());
    for (double v : line) r.rgba[i++] = Quantize(v, max);
  }
  return r;
}

std::unique_ptr<PixelWorld> WorldOf(const Raster& r, BitDepth depth) {
  auto world = std::make_unique<PixelWorld>(r.width, r.height, depth);
  const double max = r.bits == 16 ? 65535.0 : 255.0;
  std::size_t i = 0;
  for (A_long y = 0; y < r.height; ++y)
    for (A_long x = 0; x < r.width; ++x, i += 4) {
      const double red = r.rgba[i] / max, green = r.rgba[i + 1] / max, blue = r.rgba[i + 2] / max,
                   alpha = r.rgba[i + 3] / max;
      switch (depth) {
        case BitDepth::k8:
          world->At<PF_Pixel8>(x, y) = {static_cast<A_u_char>(Quantize(alpha, 255)),
                                        static_cast<A_u_char>(Quantize(red, 255)),
                                        static_cast<A_u_char>(Quantize(green, 255)),
                                        static_cast<A_u_char>(Quantize(blue, 255))};
          break;
        case BitDepth::k16:
          world->At<PF_Pixel16>(x, y) = {Quantize(alpha, PF_MAX_CHAN16), Quantize(red, PF_MAX_CHAN16),
                                         Quantize(green, PF_MAX_CHAN16), Quantize(blue, PF_MAX_CHAN16)};
          break;
        case BitDepth::k32:
          world->At<PF_PixelFloat>(x, y) = {static_cast<float>(alpha), static_cast<float>(red),
                                            static_cast<float>(green), static_cast<float>(blue)};
          break;
      }
    }
  return world;
}

// Bytes of a raster as PNG stores them: big-endian 16-bit samples.
std::vector<unsigned char> PngRowBytes(const Raster& r) {
  const std::size_t per = r.bits == 16 ? 2 : 1;
  std::vector<unsigned char> bytes(r.rgba.size() * per);
  for (std::size_t i = 0; i < r.rgba.size(); ++i) {
    if (per == 2) {
      bytes[2 * i] = static_cast<unsigned char>(r.rgba[i] >> 8);
      bytes[2 * i + 1] = static_cast<unsigned char>(r.rgba[i] & 0xFF);
    } else {
      bytes[i] = static_cast<unsigned char>(r.rgba[i]);
    }
  }
  return bytes;
}

class File {
 public:
  File(const std::string& path, const char* mode) : f_(std::fopen(path.c_str(), mode)) {}
  ~File() {
    if (f_) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }
  // Closes now so that a failed flush is reported, not lost in the destructor.
  bool Close() {
    std::FILE* f = f_;
    f_ = nullptr;
    return f == nullptr || std::fclose(f) == 0;
  }

 private:
  std::FILE* f_;
};

void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
  File f(path, "wb");
  if (!f.get()) Fail(path, std::string("cannot open for writing: ") + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
  if (!f.Close() || !written) Fail(path, "write failed");
}

// --- built-in PNG writer ---------------------------------------------------

std::uint32_t Crc32(const unsigned char* p, std::size_t n, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBig32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char type[4], const std::vector<unsigned char>& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

// --- EXR writer ---------------------------------------------------------------

void PutLe32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutLe64(std::vector<unsigned char>& out, std::uint64_t v) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutFloat(std::vector<unsigned char>& out, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  PutLe32(out, bits);
}

void PutAttribute(std::vector<unsigned char>& out, const char* name, const char* type,
                  const std::vector<unsigned char>& value) {
  out.insert(out.end(), name, name + std::strlen(name) + 1);
  out.insert(out.end(), type, type + std::strlen(type) + 1);
  PutLe32(out, static_cast<std::uint32_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

#if defined(TOVANE_PIXELS_HAVE_LIBPNG)

struct PngErrorState {
  std::jmp_buf jump;
  char message[256];
};

void PngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Only plain data lives in the frames that libpng may longjmp out of; every
// C++ object is made by the caller before and destroyed after.
bool LibpngWrite(std::FILE* file, const Raster& r, std::vector<png_bytep>& rows, PngErrorState& state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(state.jump)) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(r.width), static_cast<png_uint_32>(r.height), r.bits,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // One filter for every row rather than libpng's default of trying all
  // five on each: the trial took a third of a render's time. "Up" suits
  // rendered frames, whose rows change little from one to the next.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

struct PngHeader {
  png_uint_32 width = 0, height = 0;
  int bits = 0;
};

bool LibpngRead(std::FILE* file, bool header_only, PngHeader& header, std::vector<unsigned char>& pixels,
                std::vector<png_bytep>& rows, PngErrorState& state, std::size_t& row_bytes) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(state.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  header.width = png_get_image_width(png, info);
  header.height = png_get_image_height(png, info);
  const int bit_depth = png_get_bit_depth(png, info);
  const int color = png_get_color_type(png, info);
  header.bits = bit_depth == 16 ? 16 : 8;
  if (!header_only) {
    if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (color == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (color == PNG_COLOR_TYPE_GRAY || color == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (!(color & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
      png_set_add_alpha(png, header.bits == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    row_bytes = png_get_rowbytes(png, info);
    if (row_bytes != static_cast<std::size_t>(header.width) * 4 * (header.bits / 8)) {
      std::snprintf(state.message, sizeof state.message, "unexpected row layout");
      png_destroy_read_struct(&png, &info, nullptr);
      return false;
    }
    // Filled by the caller's vectors: resizing here is safe because the
    // vectors were made before setjmp and are not used after a longjmp.
    pixels.resize(row_bytes * header.height);
    rows.resize(header.height);
    for (png_uint_32 y = 0; y < header.height; ++y) rows[y] = pixels.data() + row_bytes * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// Guards against images whose size would overflow our buffers or the
// record's 32-bit fields.
constexpr png_uint_32 kMaxPngSide = 1u << 16;

Raster ReadWithLibpng(const std::string& path, bool header_only) {
  File f(path, "rb");
  if (!f.get()) Fail(path, std::string("cannot open: ") + std::strerror(errno));
  unsigned char signature[8] = {};
  if (std::fread(signature, 1, 8, f.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) Fail(path, "not a PNG file");
  std::rewind(f.get());
  PngHeader header;
  std::vector<unsigned char> pixels;
  std::vector<png_bytep> rows;
  PngErrorState state{};
  std::size_t row_bytes = 0;
  if (!header_only) {
    // Read the header first so the pixel buffer is bounded before decoding.
    if (!LibpngRead(f.get(), true, header, pixels, rows, state, row_bytes))
      Fail(path, std::string("unreadable PNG: ") + state.message);
    if (header.width > kMaxPngSide || header.height > kMaxPngSide) Fail(path, "PNG too large");
    std::rewind(f.get());
  }
  if (!LibpngRead(f.get(), header_only, header, pixels, rows, state, row_bytes))
    Fail(path, std::string("unreadable PNG: ") + state.message);
  if (header.width > kMaxPngSide || header.height > kMaxPngSide) Fail(path, "PNG too large");
  Raster r;
  r.width = static_cast<A_long>(header.width);
  r.height = static_cast<A_long>(header.height);
  r.bits = header.bits;
  if (header_only) return r;
  r.rgba.resize(static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height) * 4);
  for (std::size_t i = 0; i < r.rgba.size(); ++i)
    r.rgba[i] = header.bits == 16 ? static_cast<std::uint16_t>((pixels[2 * i] << 8) | pixels[2 * i + 1])
                                  : pixels[i];
  return r;
}

#endif  // TOVANE_PIXELS_HAVE_LIBPNG

Raster ReadWithStb(const std::string& path) {
  Raster r;
  bool sixteen = false;
  int w = 0, h = 0;
  std::string error;
  if (!stbcodec::Load(path, w, h, sixteen, r.rgba, error)) Fail(path, "unreadable PNG: " + error);
  r.width = w;
  r.height = h;
  r.bits = sixteen ? 16 : 8;
  return r;
}

}  // namespace

bool PngUsesLibrary() {
#if defined(TOVANE_PIXELS_HAVE_LIBPNG)
  return true;
#else
  return false;
#endif
}

bool ExrUsesLibrary() {
#if defined(TOVANE_PIXELS_HAVE_OPENEXR)
  return true;
#else
  return false;
#endif
}

void WritePngBuiltIn(const PF_EffectWorld& world, const std::string& path, int bits) {
  const Raster r = RasterOf(world, bits, path);
  const std::vector<unsigned char> samples = PngRowBytes(r);
  const std::size_t row = static_cast<std::size_t>(r.width) * 4 * (r.bits / 8);
  // Filter type 0 (none) before each row.
  std::vector<unsigned char> filtered;
  filtered.reserve((row + 1) * static_cast<std::size_t>(r.height));
  for (A_long y = 0; y < r.height; ++y) {
    filtered.push_back(0);
    const auto begin = samples.begin() + static_cast<std::ptrdiff_t>(row * static_cast<std::size_t>(y));
    filtered.insert(filtered.end(), begin, begin + static_cast<std::ptrdiff_t>(row));
  }
  std::vector<unsigned char> compressed;
  if (!stbcodec::Deflate(filtered, compressed)) Fail(path, "image too large to compress");

  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> ihdr;
  PutBig32(ihdr, static_cast<std::uint32_t>(r.width));
  PutBig32(ihdr, static_cast<std::uint32_t>(r.height));
  ihdr.push_back(static_cast<unsigned char>(r.bits));
  ihdr.push_back(6);  // RGBA
  ihdr.push_back(0);  // deflate
  ihdr.push_back(0);  // adaptive filtering
  ihdr.push_back(0);  // not interlaced
  PutChunk(file, "IHDR", ihdr);
  PutChunk(file, "IDAT", compressed);
  PutChunk(file, "IEND", {});
  WriteAll(path, file);
}

std::unique_ptr<PixelWorld> ReadPngBuiltIn(const std::string& path, BitDepth depth) {
  return WorldOf(ReadWithStb(path), depth);
}

void WritePng(const PF_EffectWorld& world, const std::string& path, int bits) {
#if defined(TOVANE_PIXELS_HAVE_LIBPNG)
  const Raster r = RasterOf(world, bits, path);
  std::vector<unsigned char> samples = PngRowBytes(r);
  const std::size_t row = static_cast<std::size_t>(r.width) * 4 * (r.bits / 8);
  std::vector<png_bytep> rows(static_cast<std::size_t>(r.height));
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = samples.data() + row * y;
  File f(path, "wb");
  if (!f.get()) Fail(path, std::string("cannot open for writing: ") + std::strerror(errno));
  PngErrorState state{};
  const bool ok = LibpngWrite(f.get(), r, rows, state);
  if (!f.Close() || !ok) Fail(path, std::string("write failed ") + state.message);
#else
  WritePngBuiltIn(world, path, bits);
#endif
}

ImageSize ReadPngSize(const std::string& path) {
#if defined(TOVANE_PIXELS_HAVE_LIBPNG)
  const Raster r = ReadWithLibpng(path, true);
#else
  const Raster r = ReadWithStb(path);
#endif
  return {r.width, r.height};
}

std::unique_ptr<PixelWorld> ReadPng(const std::string& path, BitDepth depth) {
#if defined(TOVANE_PIXELS_HAVE_LIBPNG)
  return WorldOf(ReadWithLibpng(path, false), depth);
#else
  return ReadPngBuiltIn(path, depth);
#endif
}

void WriteExrBuiltIn(const PF_EffectWorld& world, const std::string& path) {
  CheckWritable(world, path);
  const A_long w = world.width, h = world.height;
  std::vector<unsigned char> out;
  PutLe32(out, 20000630);  // magic
  PutLe32(out, 2);         // version 2, single-part scanline

  std::vector<unsigned char> channels;
  for (const char* name : {"A", "B", "G", "R"}) {  // channel lists are sorted by name
    channels.insert(channels.end(), name, name + std::strlen(name) + 1);
    PutLe32(channels, 2);  // FLOAT
    PutLe32(channels, 0);  // pLinear and reserved
    PutLe32(channels, 1);  // x sampling
    PutLe32(channels, 1);  // y sampling
  }
  channels.push_back(0);
  std::vector<unsigned char> box;
  PutLe32(box, 0);
  PutLe32(box, 0);
  PutLe32(box, static_cast<std::uint32_t>(w - 1));
  PutLe32(box, static_cast<std::uint32_t>(h - 1));
  std::vector<unsigned char> one_float, centre;
  PutFloat(one_float, 1.0f);
  PutFloat(centre, 0.0f);
  PutFloat(centre, 0.0f);
  PutAttribute(out, "channels", "chlist", channels);
  PutAttribute(out, "compression", "compression", {0});
  PutAttribute(out, "dataWindow", "box2i", box);
  PutAttribute(out, "displayWindow", "box2i", box);
  PutAttribute(out, "lineOrder", "lineOrder", {0});
  PutAttribute(out, "pixelAspectRatio", "float", one_float);
  PutAttribute(out, "screenWindowCenter", "v2f", centre);
  PutAttribute(out, "screenWindowWidth", "float", one_float);
  out.push_back(0);  // end of header

  // Uncompressed: one scanline per block, every block the same size.
  const std::uint64_t line_data = static_cast<std::uint64_t>(w) * 4 * sizeof(float);
  if (line_data > 0x7FFFFFFF) Fail(path, "image too wide for EXR");
  const std::uint64_t table_end = out.size() + static_cast<std::uint64_t>(h) * 8;
  for (A_long y = 0; y < h; ++y) PutLe64(out, table_end + static_cast<std::uint64_t>(y) * (8 + line_data));
  std::vector<double> line(static_cast<std::size_t>(w) * 4);
  for (A_long y = 0; y < h; ++y) {
    PutLe32(out, static_cast<std::uint32_t>(y));
    PutLe32(out, static_cast<std::uint32_t>(line_data));
    NormalizedRow(world, y, line.data());
    for (int channel : {3, 2, 1, 0})  // A, B, G, R from R, G, B, A
      for (A_long x = 0; x < w; ++x) PutFloat(out, static_cast<float>(line[static_cast<std::size_t>(x) * 4 + channel]));
  }
  WriteAll(path, out);
}

void WriteExr(const PF_EffectWorld& world, const std::string& path) {
#if defined(TOVANE_PIXELS_HAVE_OPENEXR)
  CheckWritable(world, path);
  const A_long w = world.width, h = world.height;
  std::vector<float> rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
  std::vector<double> line(static_cast<std::size_t>(w) * 4);
  std::size_t i = 0;
  for (A_long y = 0; y < h; ++y) {
    NormalizedRow(world, y, line.data());
    for (double v : line) rgba[i++] = static_cast<float>(v);
  }
  try {
    Imf::Header header(w, h);
    header.compression() = Imf::ZIP_COMPRESSION;
    const char* names[4] = {"R", "G", "B", "A"};
    Imf::FrameBuffer frame;
    const std::size_t xs = 4 * sizeof(float), ys = xs * static_cast<std::size_t>(w);
    for (int c = 0; c < 4; ++c) {
      header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
      frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(rgba.data() + c), xs, ys));
    }
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(frame);
    file.writePixels(h);
  } catch (const std::exception& e) {
    Fail(path, std::string("EXR write failed: ") + e.what());
  }
#else
  WriteExrBuiltIn(world, path);
#endif
}

std::string ImageExtensionFor(BitDepth depth) { return depth == BitDepth::k32 ? ".exr" : ".png"; }

std::string WriteImage(const PF_EffectWorld& world, const std::string& path_stem) {
  const BitDepth depth = DepthOf(world);
  const std::string path = path_stem + ImageExtensionFor(depth);
  if (depth == BitDepth::k32)
    WriteExr(world, path);
  else
    WritePng(world, path, depth == BitDepth::k8 ? 8 : 16);
  return path;
}

}  // namespace hostsim
