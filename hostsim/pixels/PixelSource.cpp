#include "PixelSource.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FileAccess.h"
#include "ImageIO.h"
#include "ScalingCopy.h"
#include "TextDraw.h"

namespace hostsim {

PixelSource::~PixelSource() = default;

A_long PixelSource::frame_count() const { return 0; }

void PixelSource::DrawFrame(A_long frame_index, PixelWorld& into) const {
  const A_long kept_as = SameAtEveryIndex() ? 0 : frame_index;
  if (drawn_.CopyKept(kept_as, into)) return;
  Paint(frame_index, into);
  drawn_.Painted(kept_as, into);
}

namespace {

PF_PixelFloat Opaque(double r, double g, double b) {
  return {1.0f, static_cast<float>(r), static_cast<float>(g), static_cast<float>(b)};
}

PF_PixelFloat FromPixel8(const PF_Pixel8& p) {
  return {p.alpha / 255.0f, p.red / 255.0f, p.green / 255.0f, p.blue / 255.0f};
}

constexpr A_long kCardLevels = 8;
constexpr A_long kCardLevelBase = 40;
constexpr A_long kCardLevelStep = 30;
constexpr A_long kCardTolerance = 12;

}  // namespace

// --- gradient ---------------------------------------------------------------

void GradientSource::Paint(A_long, PixelWorld& into) const {
  const double w = into.width(), h = into.height();
  for (A_long y = 0; y < into.height(); ++y)
    for (A_long x = 0; x < into.width(); ++x) {
      const double u = (x + 0.5) / w, v = (y + 0.5) / h;
      into.Set(x, y, Opaque(u, v, 1.0 - 0.5 * (u + v)));
    }
}

std::string GradientSource::Describe() const { return "gradient"; }

// --- checker ----------------------------------------------------------------

CheckerSource::CheckerSource(A_long cell, A_long full_width, A_long full_height)
    : cell_(cell), full_width_(full_width), full_height_(full_height) {
  if (cell <= 0 || full_width <= 0 || full_height <= 0)
    throw std::invalid_argument("checker cell and layer size must be positive");
}

void CheckerSource::Paint(A_long, PixelWorld& into) const {
  const PF_PixelFloat light = Opaque(0.8, 0.8, 0.8), dark = Opaque(0.35, 0.35, 0.35);
  const double sx = static_cast<double>(full_width_) / into.width();
  const double sy = static_cast<double>(full_height_) / into.height();
  for (A_long y = 0; y < into.height(); ++y) {
    const auto row_cell = static_cast<std::int64_t>(std::floor((y + 0.5) * sy / cell_));
    for (A_long x = 0; x < into.width(); ++x) {
      const auto col_cell = static_cast<std::int64_t>(std::floor((x + 0.5) * sx / cell_));
      into.Set(x, y, (row_cell + col_cell) % 2 == 0 ? light : dark);
    }
  }
}

std::string CheckerSource::Describe() const { return "checker " + std::to_string(cell_); }

// --- frame-number card ------------------------------------------------------

PF_Pixel8 FrameCardColor(A_long index) {
  const std::int64_t modulus = kCardLevels * kCardLevels * kCardLevels;
  const std::int64_t m = ((std::int64_t{index} % modulus) + modulus) % modulus;
  const auto level = [](std::int64_t digit) { return static_cast<A_u_char>(kCardLevelBase + kCardLevelStep * digit); };
  return {255, level(m % 8), level((m / 8) % 8), level(m / 64)};
}

A_long FrameCardIndexOf(const PF_Pixel8& pixel) {
  if (pixel.alpha < 255 - kCardTolerance) return -1;
  A_long index = 0, weight = 1;
  for (A_u_char channel : {pixel.red, pixel.green, pixel.blue}) {
    const A_long offset = channel - kCardLevelBase;
    const A_long digit = (offset + kCardLevelStep / 2) / kCardLevelStep;
    if (offset < -kCardTolerance || digit >= kCardLevels ||
        std::abs(offset - digit * kCardLevelStep) > kCardTolerance)
      return -1;
    index += std::max<A_long>(digit, 0) * weight;
    weight *= kCardLevels;
  }
  return index;
}

FrameCardSource::FrameCardSource(std::string caption, A_long frame_count)
    : caption_(std::move(caption)), frame_count_(std::max<A_long>(frame_count, 0)) {}

void FrameCardSource::Paint(A_long frame_index, PixelWorld& into) const {
  const A_long w = into.width(), h = into.height();
  if (w <= 0 || h <= 0) return;
  const PF_PixelFloat background = FromPixel8(FrameCardColor(frame_index));
  const PF_PixelFloat white = Opaque(1, 1, 1), ink = Opaque(0.05, 0.05, 0.05);
  into.Fill(background);

  const A_long band = std::max<A_long>(std::min(w, h) / 32, 1);
  const A_long stroke = std::max<A_long>(std::min(w, h) / 160, 1);
  // Outline just inside the plain band, and a corner block marking top-left,
  // so crops, stretches and flips can be seen.
  into.FillRect({band, band, w - band, band + stroke}, white);
  into.FillRect({band, h - band - stroke, w - band, h - band}, white);
  into.FillRect({band, band, band + stroke, h - band}, white);
  into.FillRect({w - band - stroke, band, w - band, h - band}, white);
  into.FillRect({band, band, band + 3 * band, band + 3 * band}, white);

  const std::string digits = std::to_string(frame_index);
  const A_long by_height = h * 2 / 5 / kGlyphCellsHigh;
  const A_long by_width = w * 3 / 4 / std::max<A_long>(TextWidth(digits, 1), 1);
  const A_long scale = std::max<A_long>(std::min(by_height, by_width), 1);
  const A_long digits_top = (h - TextHeight(scale)) / 2;
  DrawTextOutlined(into, (w - TextWidth(digits, scale)) / 2, digits_top, digits, scale, white, ink);

  const A_long small = std::max<A_long>(scale / 4, 1);
  const std::string heading = "FRAME";
  DrawTextOutlined(into, (w - TextWidth(heading, small)) / 2, digits_top - TextHeight(small) - 3 * small, heading,
                   small, white, ink);
  if (!caption_.empty()) {
    const A_long caption_scale = std::max<A_long>(std::min(small, w * 3 / 4 / std::max<A_long>(TextWidth(caption_, 1), 1)), 1);
    DrawTextOutlined(into, (w - TextWidth(caption_, caption_scale)) / 2,
                     digits_top + TextHeight(scale) + 3 * small, caption_, caption_scale, white, ink);
  }
  // Small cards leave text no room; the plain band is promised whatever the size.
  into.FillRect({0, 0, w, band}, background);
  into.FillRect({0, h - band, w, h}, background);
  into.FillRect({0, 0, band, h}, background);
  into.FillRect({w - band, 0, w, h}, background);
}

std::string FrameCardSource::Describe() const {
  return caption_.empty() ? "frame_card" : "frame_card \"" + caption_ + "\"";
}

// --- PNG files ----------------------------------------------------------------

namespace {

// A path pattern split around its one integer conversion.
struct Pattern {
  std::string before, after;
  bool has_number = false;
  bool zero_pad = false;
  int width = 0;
};

Pattern ParsePattern(const std::string& text) {
  Pattern p;
  std::string* out = &p.before;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      *out += '%';
      ++i;
      continue;
    }
    if (p.has_number) throw PixelSourceError(text + ": a sequence pattern takes one frame number, found a second '%'");
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == '0') {
      p.zero_pad = true;
      ++j;
    }
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
      p.width = p.width * 10 + (text[j] - '0');
      if (p.width > 32) throw PixelSourceError(text + ": frame number width above 32");
      ++j;
    }
    if (j >= text.size() || text[j] != 'd')
      throw PixelSourceError(text + ": only %d, %0Nd and %Nd may stand for the frame number (use %% for a percent sign)");
    p.has_number = true;
    out = &p.after;
    i = j;
  }
  return p;
}

std::string Format(const Pattern& p, std::int64_t number) {
  std::string digits = std::to_string(number < 0 ? -number : number);
  const std::string sign = number < 0 ? "-" : "";
  const std::size_t width = static_cast<std::size_t>(p.width);
  if (p.zero_pad && sign.size() + digits.size() < width) digits.insert(0, width - sign.size() - digits.size(), '0');
  std::string field = sign + digits;
  if (field.size() < width) field.insert(0, width - field.size(), ' ');
  return p.before + field + p.after;
}

// Only asks the file system: opening a FIFO that matches the pattern would
// wait for a writer for ever.
bool FileExists(const std::string& path) { return IsRegularFile(path); }

// The highest number above `after` of a file in the pattern's directory that
// the pattern matches, or `after` when there is none: a file past a gap in
// a sequence is a frame someone meant to render.
std::int64_t LastNumberedFile(const Pattern& p, std::int64_t after) {
  namespace fs = std::filesystem;
  // A number in a directory's name is left alone: each frame sits elsewhere.
  if (p.after.find_first_of("/\\") != std::string::npos) return after;
  const fs::path first = PathFromUtf8(Format(p, after));
  const fs::path dir = first.has_parent_path() ? first.parent_path() : fs::path(".");
  const std::string stem = PathToUtf8(PathFromUtf8(p.before + "0").filename());
  const std::string prefix = stem.substr(0, stem.size() - 1);
  std::int64_t last = after;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = PathToUtf8(it->path().filename());
    if (name.size() <= prefix.size() + p.after.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - p.after.size());
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of(" 0123456789") != std::string::npos) continue;
    const std::int64_t number = std::strtoll(digits.c_str(), nullptr, 10);
    if (number > last && PathToUtf8(PathFromUtf8(Format(p, number)).filename()) == name) last = number;
  }
  return last;
}

// Stops counting a sequence somewhere: a pattern can match a huge range.
constexpr A_long kMaxSequenceFrames = 1000000;

}  // namespace

PngSource::PngSource(std::string path_pattern, A_long first, std::size_t max_read_bytes)
    : pattern_(std::move(path_pattern)), first_(first), max_read_bytes_(max_read_bytes) {
  const Pattern p = ParsePattern(pattern_);
  sequence_ = p.has_number;
  const std::string first_path = PathOf(0);
  if (!FileExists(first_path)) {
    if (std::filesystem::exists(PathFromUtf8(first_path)))
      throw PixelSourceError(first_path + ": not a regular file");
    throw PixelSourceError(first_path + ": no such file");
  }
  if (sequence_) {
    while (frame_count_ < kMaxSequenceFrames && std::int64_t{first_} + frame_count_ <= INT32_MAX &&
           FileExists(Format(p, std::int64_t{first_} + frame_count_)))
      ++frame_count_;
    const std::int64_t missing = std::int64_t{first_} + frame_count_;
    const std::int64_t last = LastNumberedFile(p, missing);
    if (last > missing)
      throw PixelSourceError(Format(p, missing) + ": missing from the sequence, which goes on to " +
                             Format(p, last) + " (a sequence has no gaps; number the frames one after another)");
  }
  try {
    const ImageSize size = ReadPngSize(first_path);
    width_ = size.width;
    height_ = size.height;
  } catch (const ImageIoError& e) {
    throw PixelSourceError(e.what());
  }
}

std::string PngSource::PathOf(A_long frame_index) const {
  const Pattern p = ParsePattern(pattern_);
  if (!p.has_number) return p.before;
  return Format(p, std::int64_t{first_} + frame_index);
}

void PngSource::Paint(A_long frame_index, PixelWorld& into) const {
  if (sequence_ && (frame_index < 0 || frame_index >= frame_count_))
    throw PixelSourceError(pattern_ + ": frame " + std::to_string(frame_index) + " outside the sequence of " +
                           std::to_string(frame_count_));
  const std::string path = PathOf(frame_index);
  const std::shared_ptr<const PixelWorld> image = Decoded(path, into.depth());
  const PF_Err err = ScalingCopy(image->world(), into.world(), nullptr, nullptr);
  if (err != PF_Err_NONE) throw PixelSourceError(path + ": could not scale to the layer");
}

std::shared_ptr<const PixelWorld> PngSource::Decoded(const std::string& path, BitDepth depth) const {
  const std::lock_guard<std::mutex> lock(kept_mutex_);
  if (kept_ && kept_path_ == path && kept_depth_ == depth) return kept_;
  // The old image goes first, so that two never take memory at once.
  kept_.reset();
  try {
    kept_ = ReadPng(path, depth, max_read_bytes_);
  } catch (const ImageIoError& e) {
    throw PixelSourceError(e.what());
  }
  kept_path_ = path;
  kept_depth_ = depth;
  return kept_;
}

std::string PngSource::Describe() const { return "png " + pattern_; }

}  // namespace hostsim
