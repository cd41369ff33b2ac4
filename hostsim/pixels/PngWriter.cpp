// PNG writing: RGBA rows of 8 or 16 bits, deflated by zlib. stb_image_write,
// the library that would otherwise serve, writes 8-bit samples only, and no
// PNG library is packaged for the Windows cross-build; the file format's
// framing is all that is left to write here.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <zlib.h>

#include "FileAccess.h"
#include "ImageCodecs.h"

namespace hostsim {
namespace {

void PutBig32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char type[4], const unsigned char* data, std::size_t size) {
  PutBig32(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
  PutBig32(out, static_cast<std::uint32_t>(crc));
}

// The one setting of every PNG written: frames are written for preview, so
// speed before size. zlib's fastest level with the "Up" filter (each row as
// its difference from the row above, which suits rendered frames, whose rows
// change little) compresses a 1080p frame of the benchmark scene several
// times faster than the default level; what that costs in file size is in
// docs/performance.md. Trying every filter per row would cost more time than
// the smaller file is worth.
constexpr int kCompressionLevel = Z_BEST_SPEED;
constexpr unsigned char kFilterUp = 2;

// Deflates the rows filtered one at a time, so no filtered copy of the
// whole image is made.
std::vector<unsigned char> CompressedRows(const std::string& path, const std::vector<unsigned char>& samples,
                                          std::size_t row_bytes, A_long height) {
  z_stream stream{};
  if (deflateInit(&stream, kCompressionLevel) != Z_OK) FailImage(path, "compression failed to start");
  std::vector<unsigned char> compressed;
  std::vector<unsigned char> filtered(row_bytes + 1);
  unsigned char out[1 << 16];
  int status = Z_OK;
  for (std::size_t y = 0; y <= static_cast<std::size_t>(height) && status == Z_OK; ++y) {
    const bool last = y == static_cast<std::size_t>(height);
    if (!last) {
      const unsigned char* row = &samples[y * row_bytes];
      filtered[0] = kFilterUp;
      if (y == 0) {
        std::memcpy(filtered.data() + 1, row, row_bytes);
      } else {
        const unsigned char* above = row - row_bytes;
        for (std::size_t i = 0; i < row_bytes; ++i) filtered[1 + i] = static_cast<unsigned char>(row[i] - above[i]);
      }
      stream.next_in = filtered.data();
      stream.avail_in = static_cast<uInt>(filtered.size());
    }
    do {
      stream.next_out = out;
      stream.avail_out = sizeof out;
      status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
      // Asked again with the row taken in and nothing left to write out.
      if (status == Z_BUF_ERROR && !last) status = Z_OK;
      compressed.insert(compressed.end(), out, out + (sizeof out - stream.avail_out));
    } while (status == Z_OK && stream.avail_out == 0);
    if (last && status == Z_OK) status = Z_BUF_ERROR;  // Z_FINISH must end the stream
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) FailImage(path, "compression failed");
  return compressed;
}

}  // namespace

void EncodePng(const std::string& path, A_long width, A_long height, int bits,
               const std::vector<unsigned char>& samples) {
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(bits / 8);
  // zlib counts a row in uInt, 32 bits everywhere.
  if (row_bytes + 1 > std::numeric_limits<uInt>::max()) FailImage(path, "image rows too long to compress");
  const std::vector<unsigned char> compressed = CompressedRows(path, samples, row_bytes, height);
  const std::size_t compressed_size = compressed.size();

  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.reserve(compressed_size + 1024);
  std::vector<unsigned char> ihdr;
  PutBig32(ihdr, static_cast<std::uint32_t>(width));
  PutBig32(ihdr, static_cast<std::uint32_t>(height));
  ihdr.push_back(static_cast<unsigned char>(bits));
  ihdr.push_back(6);  // RGBA
  ihdr.push_back(0);  // deflate
  ihdr.push_back(0);  // adaptive filtering, a filter byte per row
  ihdr.push_back(0);  // not interlaced
  PutChunk(file, "IHDR", ihdr.data(), ihdr.size());
  // A chunk's length is 31 bits; larger data is split over several.
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  for (std::size_t at = 0; at < compressed_size; at += kMaxChunk)
    PutChunk(file, "IDAT", compressed.data() + at, std::min<std::size_t>(kMaxChunk, compressed_size - at));
  PutChunk(file, "IEND", nullptr, 0);

  WriteImageFile(path, file.data(), file.size());
}

void WriteImageFile(const std::string& path, const unsigned char* bytes, std::size_t size) {
  try {
    WriteThroughTemporary(path, [&](std::FILE* out) {
      if (std::fwrite(bytes, 1, size, out) != size) FailImage(path, std::string("write failed: ") + std::strerror(errno));
    });
  } catch (const FileAccessError& refused) {
    throw ImageIoError(refused.what());  // already names the file
  }
}

}  // namespace hostsim
