#include "PixelWorld.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "RoundToChannel.h"

namespace hostsim {

namespace {

template <int kMax, typename T>
T ToInteger(float v) {
  // NaN fails both comparisons and lands on 0.
  if (!(v > 0.0f)) return 0;
  if (!(v < 1.0f)) return static_cast<T>(kMax);
  return static_cast<T>(RoundPositive(static_cast<double>(v) * kMax));
}

}  // namespace

PF_PixelFloat ReadPixel(const PF_EffectWorld& world, A_long x, A_long y) {
  const unsigned char* row =
      static_cast<const unsigned char*>(world.data) + static_cast<std::ptrdiff_t>(y) * world.rowbytes;
  switch (DepthOf(world)) {
    case BitDepth::k8: {
      const PF_Pixel8& p = reinterpret_cast<const PF_Pixel8*>(row)[x];
      const float k = 1.0f / PF_MAX_CHAN8;
      return {p.alpha * k, p.red * k, p.green * k, p.blue * k};
    }
    case BitDepth::k16: {
      const PF_Pixel16& p = reinterpret_cast<const PF_Pixel16*>(row)[x];
      const float k = 1.0f / PF_MAX_CHAN16;
      return {p.alpha * k, p.red * k, p.green * k, p.blue * k};
    }
    case BitDepth::k32:
      return reinterpret_cast<const PF_PixelFloat*>(row)[x];
  }
  return {};
}

void WritePixel(PF_EffectWorld& world, A_long x, A_long y, const PF_PixelFloat& c) {
  unsigned char* row = static_cast<unsigned char*>(world.data) + static_cast<std::ptrdiff_t>(y) * world.rowbytes;
  switch (DepthOf(world)) {
    case BitDepth::k8:
      reinterpret_cast<PF_Pixel8*>(row)[x] = {
          ToInteger<PF_MAX_CHAN8, A_u_char>(c.alpha), ToInteger<PF_MAX_CHAN8, A_u_char>(c.red),
          ToInteger<PF_MAX_CHAN8, A_u_char>(c.green), ToInteger<PF_MAX_CHAN8, A_u_char>(c.blue)};
      break;
    case BitDepth::k16:
      reinterpret_cast<PF_Pixel16*>(row)[x] = {
          ToInteger<PF_MAX_CHAN16, A_u_short>(c.alpha), ToInteger<PF_MAX_CHAN16, A_u_short>(c.red),
          ToInteger<PF_MAX_CHAN16, A_u_short>(c.green), ToInteger<PF_MAX_CHAN16, A_u_short>(c.blue)};
      break;
    case BitDepth::k32:
      reinterpret_cast<PF_PixelFloat*>(row)[x] = c;
      break;
  }
}

PixelMemoryKeeper::~PixelMemoryKeeper() = default;

void PixelMemoryRelease::operator()(unsigned char* memory) const noexcept {
  if (keeper)
    keeper->TakeBack(memory, bytes);
  else
    delete[] memory;
}

namespace {

// Row bytes of a world, checked against the record's 32-bit field.
std::int64_t RowBytes(A_long width, A_long height, BitDepth depth, A_long row_padding_pixels) {
  if (width < 0 || height < 0 || row_padding_pixels < 0)
    throw std::invalid_argument("pixel world size must not be negative");
  const std::int64_t row_pixels = static_cast<std::int64_t>(width) + row_padding_pixels;
  const std::int64_t rowbytes = row_pixels * static_cast<std::int64_t>(BytesPerPixel(depth));
  if (rowbytes > std::numeric_limits<A_long>::max())
    throw std::invalid_argument("pixel world rows too wide for the world record");
  return rowbytes;
}

}  // namespace

std::size_t PixelWorld::ByteSize(A_long width, A_long height, BitDepth depth, A_long row_padding_pixels) {
  const std::int64_t rowbytes = RowBytes(width, height, depth, row_padding_pixels);
  if (width == 0 || height == 0) return 0;
  const std::size_t bytes = static_cast<std::size_t>(rowbytes) * static_cast<std::size_t>(height);
  if (static_cast<std::uint64_t>(bytes) / static_cast<std::uint64_t>(height) != static_cast<std::uint64_t>(rowbytes))
    throw std::bad_alloc();
  return bytes;
}

PixelWorld::PixelWorld(A_long width, A_long height, BitDepth depth, A_long row_padding_pixels)
    : depth_(depth), world_{} {
  const std::size_t bytes = ByteSize(width, height, depth, row_padding_pixels);
  // Value-initialised: all bits zero is transparent black at every depth.
  if (bytes > 0) memory_ = PixelMemory(new unsigned char[bytes](), PixelMemoryRelease{nullptr, bytes});
  Describe(width, height, RowBytes(width, height, depth, row_padding_pixels));
}

PixelWorld::PixelWorld(A_long width, A_long height, BitDepth depth, PixelMemory memory)
    : depth_(depth), memory_(std::move(memory)), world_{} {
  const std::size_t bytes = ByteSize(width, height, depth);
  if (bytes > 0 && (!memory_ || memory_.get_deleter().bytes < bytes))
    throw std::invalid_argument("pixel memory smaller than the world");
  Describe(width, height, RowBytes(width, height, depth, 0));
}

void PixelWorld::Describe(A_long width, A_long height, std::int64_t row_bytes) {
  world_.world_flags = PF_WorldFlag_WRITEABLE;
  if (depth_ == BitDepth::k16) world_.world_flags |= PF_WorldFlag_DEEP;
  if (depth_ == BitDepth::k32) world_.world_flags |= PF_WorldFlag_FLOAT;
  world_.width = width;
  world_.height = height;
  world_.rowbytes = static_cast<A_long>(row_bytes);
  world_.pix_aspect_ratio = {1, 1};
  world_.extent_hint = {0, 0, width, height};
  world_.data = width > 0 && height > 0 ? memory_.get() : nullptr;
}

PixelWorld::~PixelWorld() = default;

namespace {

template <typename Pixel>
void FillRows(PixelWorld& world, A_long left, A_long top, A_long right, A_long bottom, Pixel pixel) {
  for (A_long y = top; y < bottom; ++y) std::fill(world.Row<Pixel>(y) + left, world.Row<Pixel>(y) + right, pixel);
}

}  // namespace

void PixelWorld::Fill(const PF_PixelFloat& color) {
  FillRect({0, 0, world_.width, world_.height}, color);
}

void PixelWorld::FillRect(const PF_LRect& rect, const PF_PixelFloat& color) {
  const A_long left = std::max<A_long>(rect.left, 0), top = std::max<A_long>(rect.top, 0);
  const A_long right = std::min(rect.right, world_.width), bottom = std::min(rect.bottom, world_.height);
  if (left >= right || top >= bottom) return;
  // The colour is converted to the depth once, at the first pixel, and that
  // pixel copied over the rest: sources draw their frames with large fills.
  Set(left, top, color);
  switch (depth_) {
    case BitDepth::k8: FillRows(*this, left, top, right, bottom, At<PF_Pixel8>(left, top)); break;
    case BitDepth::k16: FillRows(*this, left, top, right, bottom, At<PF_Pixel16>(left, top)); break;
    case BitDepth::k32: FillRows(*this, left, top, right, bottom, At<PF_PixelFloat>(left, top)); break;
  }
}

}  // namespace hostsim
