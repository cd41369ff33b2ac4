#include "PngChunks.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <zlib.h>

#include "ImageCodecs.h"

namespace hostsim {
namespace {

std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

constexpr int kPaletteColourType = 3;

// Follows the compressed pixel data of a palette image row by row, undoing
// each row's filter, and fails at the first index past the palette.
class PaletteIndexCheck {
 public:
  PaletteIndexCheck(const std::string& path, std::uint32_t width, std::uint32_t height, int bits, bool interlaced,
                    std::size_t palette_entries)
      : path_(path), width_(width), height_(height), bits_(bits), interlaced_(interlaced),
        palette_entries_(palette_entries) {
    stream_ = z_stream{};
    if (inflateInit(&stream_) != Z_OK) FailImage(path_, "cannot start to inflate the pixel data");
    NextPass();
  }
  ~PaletteIndexCheck() { inflateEnd(&stream_); }
  PaletteIndexCheck(const PaletteIndexCheck&) = delete;
  PaletteIndexCheck& operator=(const PaletteIndexCheck&) = delete;

  // Takes the next piece of the IDAT data. A stream that is damaged or ends
  // early is left for the decoder to refuse with its own reason.
  void Feed(const unsigned char* data, std::size_t size) {
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    while (stream_.avail_in > 0 && pass_ < kPasses && !stopped_) {
      stream_.next_out = row_.data() + filled_;
      stream_.avail_out = static_cast<uInt>(row_.size() - filled_);
      const int result = inflate(&stream_, Z_NO_FLUSH);
      filled_ = row_.size() - stream_.avail_out;
      if (filled_ == row_.size()) FinishRow();
      if (result != Z_OK) stopped_ = true;
    }
  }

 private:
  static constexpr int kPasses = 7;

  void NextPass() {
    // Adam7: where each pass starts and how far apart its pixels lie.
    static const int kStart[kPasses][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const int kStep[kPasses][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    while (++pass_ < (interlaced_ ? kPasses : 1)) {
      x0_ = interlaced_ ? kStart[pass_][0] : 0, y0_ = interlaced_ ? kStart[pass_][1] : 0;
      dx_ = interlaced_ ? kStep[pass_][0] : 1, dy_ = interlaced_ ? kStep[pass_][1] : 1;
      columns_ = width_ > x0_ ? (width_ - x0_ + dx_ - 1) / dx_ : 0;
      rows_ = height_ > y0_ ? (height_ - y0_ + dy_ - 1) / dy_ : 0;
      if (columns_ == 0 || rows_ == 0) continue;  // a pass with no pixels has no rows either
      const std::size_t row_bytes = (static_cast<std::size_t>(columns_) * static_cast<std::size_t>(bits_) + 7) / 8;
      row_.assign(row_bytes + 1, 0);
      above_.assign(row_bytes + 1, 0);
      row_index_ = 0;
      filled_ = 0;
      return;
    }
    pass_ = kPasses;  // every row seen
  }

  void FinishRow() {
    Unfilter();
    const std::uint32_t per_byte = 8 / static_cast<std::uint32_t>(bits_);
    const unsigned mask = (1u << bits_) - 1;
    for (std::uint32_t x = 0; x < columns_; ++x) {
      const unsigned char byte = row_[1 + x / per_byte];
      const unsigned shift = static_cast<unsigned>(bits_) * (per_byte - 1 - x % per_byte);
      const unsigned index = (byte >> shift) & mask;
      if (index >= palette_entries_)
        FailImage(path_, "the pixel at (" + std::to_string(x0_ + x * dx_) + ", " +
                             std::to_string(y0_ + row_index_ * dy_) + ") uses palette entry " + std::to_string(index) +
                             ", but the palette has only " + std::to_string(palette_entries_) + " entries");
    }
    row_.swap(above_);
    filled_ = 0;
    if (++row_index_ == rows_) NextPass();
  }

  // Palette rows filter byte by byte (one byte a pixel at most).
  void Unfilter() {
    unsigned char* r = row_.data() + 1;
    const unsigned char* a = above_.data() + 1;
    const std::size_t n = row_.size() - 1;
    switch (row_[0]) {
      case 1:
        for (std::size_t i = 1; i < n; ++i) r[i] = static_cast<unsigned char>(r[i] + r[i - 1]);
        break;
      case 2:
        for (std::size_t i = 0; i < n; ++i) r[i] = static_cast<unsigned char>(r[i] + a[i]);
        break;
      case 3:
        for (std::size_t i = 0; i < n; ++i) r[i] = static_cast<unsigned char>(r[i] + ((i ? r[i - 1] : 0) + a[i]) / 2);
        break;
      case 4:
        for (std::size_t i = 0; i < n; ++i) {
          const int left = i ? r[i - 1] : 0, up = a[i], corner = i ? a[i - 1] : 0;
          const int p = left + up - corner, pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - corner);
          r[i] = static_cast<unsigned char>(r[i] + (pa <= pb && pa <= pc ? left : pb <= pc ? up : corner));
        }
        break;
      default:
        break;  // none, or a filter the decoder will refuse
    }
  }

  const std::string& path_;
  std::uint32_t width_, height_;
  int bits_;
  bool interlaced_;
  std::size_t palette_entries_;
  z_stream stream_;
  int pass_ = -1;
  std::uint32_t x0_ = 0, y0_ = 0, dx_ = 1, dy_ = 1, columns_ = 0, rows_ = 0, row_index_ = 0;
  std::vector<unsigned char> row_, above_;
  std::size_t filled_ = 0;
  bool stopped_ = false;
};

}  // namespace

void CheckPngChunks(std::FILE* file, const std::string& path) {
  std::rewind(file);
  unsigned char head[8];
  if (std::fread(head, 1, 8, file) != 8) FailImage(path, "not a PNG file (no PNG signature)");
  std::uint64_t at = 8;
  std::uint32_t width = 0, height = 0;
  int bits = 8, colour_type = 0;
  bool interlaced = false;
  std::size_t palette_entries = 0;
  std::unique_ptr<PaletteIndexCheck> indices;
  std::vector<unsigned char> data(65536);
  for (;;) {
    const std::size_t got = std::fread(head, 1, 8, file);
    if (got == 0) FailImage(path, "the file ends at byte " + std::to_string(at) + " without an IEND chunk");
    if (got < 8) FailImage(path, "the file ends at byte " + std::to_string(at + got) + " inside a chunk's head");
    const std::uint32_t length = Big32(head);
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    const std::string where = "the " + type + " chunk at byte " + std::to_string(at);
    if (length > 0x7FFFFFFFu) FailImage(path, where + " claims " + std::to_string(length) + " bytes, more than a chunk may");
    uLong crc = crc32(0L, head + 4, 4);
    const bool palette_pixels = type == "IDAT" && colour_type == kPaletteColourType;
    if (palette_pixels && !indices) {
      if (palette_entries == 0) FailImage(path, "a palette image with no PLTE chunk before its pixel data");
      indices = std::make_unique<PaletteIndexCheck>(path, width, height, bits, interlaced, palette_entries);
    }
    std::vector<unsigned char> small;  // IHDR's and PLTE's data, kept whole
    for (std::uint32_t left = length; left > 0;) {
      const std::size_t want = std::min<std::size_t>(left, data.size());
      const std::size_t read = std::fread(data.data(), 1, want, file);
      if (read != want)
        FailImage(path, where + " claims " + std::to_string(length) + " bytes, but the file ends after " +
                            std::to_string(length - left + read));
      crc = crc32(crc, data.data(), static_cast<uInt>(read));
      if (palette_pixels) indices->Feed(data.data(), read);
      if (type == "IHDR" || type == "PLTE") small.insert(small.end(), data.begin(), data.begin() + read);
      left -= static_cast<std::uint32_t>(read);
    }
    unsigned char stored[4];
    if (std::fread(stored, 1, 4, file) != 4) FailImage(path, where + " is cut short before its checksum");
    if (Big32(stored) != static_cast<std::uint32_t>(crc))
      FailImage(path, where + " has a wrong checksum: the file is damaged");
    if (type == "IHDR" && small.size() == 13) {
      width = Big32(small.data());
      height = Big32(small.data() + 4);
      bits = small[8];
      colour_type = small[9];
      interlaced = small[12] == 1;
      if (colour_type == kPaletteColourType && bits != 1 && bits != 2 && bits != 4 && bits != 8)
        FailImage(path, "a palette image of " + std::to_string(bits) + " bits per pixel");
    }
    if (type == "PLTE") palette_entries = small.size() / 3;
    at += 12 + std::uint64_t{length};
    if (type == "IEND") break;
  }
  std::rewind(file);
}

}  // namespace hostsim
