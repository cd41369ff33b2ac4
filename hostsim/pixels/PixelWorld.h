// Pixel memory owned by the substitute host and the world record that
// describes it to the effect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "A_Types.h"
#include "PF_Pixels.h"

namespace hostsim {

enum class BitDepth { k8 = 8, k16 = 16, k32 = 32 };

// Bytes of one ARGB pixel at a depth: 4, 8 or 16. Inline, as DepthOf: the
// per-pixel paths ask.
inline std::size_t BytesPerPixel(BitDepth depth) {
  switch (depth) {
    case BitDepth::k8: return sizeof(PF_Pixel8);
    case BitDepth::k16: return sizeof(PF_Pixel16);
    case BitDepth::k32: return sizeof(PF_PixelFloat);
  }
  return sizeof(PF_Pixel8);
}

// The depth a world record announces through its flags: FLOAT wins over DEEP,
// neither means 8 bits.
inline BitDepth DepthOf(const PF_EffectWorld& world) {
  if (world.world_flags & PF_WorldFlag_FLOAT) return BitDepth::k32;
  if (world.world_flags & PF_WorldFlag_DEEP) return BitDepth::k16;
  return BitDepth::k8;
}

// Converts between a depth's integer range and 1.0-based float intensity.
// To 8 and 16 bits the value is rounded to nearest and clamped (0..255,
// 0..32768, NaN gives 0); float worlds keep values outside 0..1 as they are.
PF_PixelFloat ReadPixel(const PF_EffectWorld& world, A_long x, A_long y);
void WritePixel(PF_EffectWorld& world, A_long x, A_long y, const PF_PixelFloat& color);

// Where a world's pixel memory goes when the world is destroyed: with no
// keeper it is freed; otherwise the keeper (a WorldPool) takes it back for a
// later world, or frees it. Keepers are called from any thread.
class PixelMemoryKeeper {
 public:
  virtual ~PixelMemoryKeeper();
  virtual void TakeBack(unsigned char* memory, std::size_t bytes) noexcept = 0;
};

struct PixelMemoryRelease {
  std::shared_ptr<PixelMemoryKeeper> keeper;
  std::size_t bytes = 0;
  void operator()(unsigned char* memory) const noexcept;
};

// Pixel memory allocated with new[], owned by one world at a time.
using PixelMemory = std::unique_ptr<unsigned char[], PixelMemoryRelease>;

// A world of width x height ARGB pixels at one depth, transparent black when
// made. Width or height 0 is allowed (then data is null). The record handed to
// the effect points into this object, so it is neither copied nor moved: hold
// it through std::unique_ptr. `row_padding_pixels` adds unused pixels at the
// end of each row, so rowbytes exceeds width x pixel size the way host worlds
// often do; tests use it to catch code that assumes packed rows.
class PixelWorld {
 public:
  // Throws std::invalid_argument for a negative size or one whose row bytes
  // do not fit the record's 32-bit field, std::bad_alloc when memory runs out.
  PixelWorld(A_long width, A_long height, BitDepth depth, A_long row_padding_pixels = 0);
  // A world of packed rows over `memory`, which holds at least
  // ByteSize(width, height, depth) bytes and keeps what it holds: the caller
  // zeroes it or overwrites every pixel. Throws as above.
  PixelWorld(A_long width, A_long height, BitDepth depth, PixelMemory memory);
  ~PixelWorld();
  PixelWorld(const PixelWorld&) = delete;
  PixelWorld& operator=(const PixelWorld&) = delete;
  PixelWorld(PixelWorld&&) = delete;
  PixelWorld& operator=(PixelWorld&&) = delete;

  // Bytes of pixel memory such a world needs. Throws as the constructors do.
  static std::size_t ByteSize(A_long width, A_long height, BitDepth depth, A_long row_padding_pixels = 0);

  PF_EffectWorld& world() { return world_; }
  const PF_EffectWorld& world() const { return world_; }
  BitDepth depth() const { return depth_; }
  A_long width() const { return world_.width; }
  A_long height() const { return world_.height; }

  // Typed rows; Pixel must match the depth (PF_Pixel8, PF_Pixel16, PF_PixelFloat).
  template <typename Pixel>
  Pixel* Row(A_long y) {
    return reinterpret_cast<Pixel*>(static_cast<unsigned char*>(world_.data) +
                                    static_cast<std::ptrdiff_t>(y) * world_.rowbytes);
  }
  template <typename Pixel>
  const Pixel* Row(A_long y) const {
    return reinterpret_cast<const Pixel*>(static_cast<const unsigned char*>(world_.data) +
                                          static_cast<std::ptrdiff_t>(y) * world_.rowbytes);
  }
  template <typename Pixel>
  Pixel& At(A_long x, A_long y) { return Row<Pixel>(y)[x]; }
  template <typename Pixel>
  const Pixel& At(A_long x, A_long y) const { return Row<Pixel>(y)[x]; }

  // Depth-independent access in 1.0-based intensity (see ReadPixel).
  PF_PixelFloat Get(A_long x, A_long y) const { return ReadPixel(world_, x, y); }
  void Set(A_long x, A_long y, const PF_PixelFloat& color) { WritePixel(world_, x, y, color); }

  // Sets every pixel (padding excluded) to one colour.
  void Fill(const PF_PixelFloat& color);
  // Sets the pixels of rect clipped to the world; an empty rect changes nothing.
  void FillRect(const PF_LRect& rect, const PF_PixelFloat& color);

 private:
  // Fills in the record for rows of `row_bytes` over memory_.
  void Describe(A_long width, A_long height, std::int64_t row_bytes);

  BitDepth depth_;
  PixelMemory memory_;
  PF_EffectWorld world_;
};

}  // namespace hostsim
