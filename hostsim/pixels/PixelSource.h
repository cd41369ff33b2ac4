// What a modelled layer shows: generated patterns and image files.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "A_Types.h"
#include "DrawnFrames.h"
#include "ImageIO.h"
#include "PF_Pixels.h"
#include "PixelWorld.h"

namespace hostsim {

// A frame could not be produced (an image file vanished or is unreadable).
// DrawFrame throws it; a host callback that draws must catch it and answer
// with an error code instead of letting it cross into the effect.
class PixelSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A layer's pixels. DrawFrame paints frame `frame_index` of the source over
// the whole of `into`, scaled to into's size (the host asks for downsampled
// sizes) and at into's depth. Drawing is deterministic, so one source may be
// shared by several layers and threads, and a frame drawn again is copied
// from the frames the source keeps (DrawnFrames) instead of painted anew.
class PixelSource {
 public:
  virtual ~PixelSource();
  void DrawFrame(A_long frame_index, PixelWorld& into) const;
  // Number of frames, 0 for a source with no last frame.
  virtual A_long frame_count() const;
  // Short text for traces and labels, e.g. "checker 64" or "png frames/img_%04d.png".
  virtual std::string Describe() const = 0;

 protected:
  // Paints every pixel of `into`; may throw PixelSourceError.
  virtual void Paint(A_long frame_index, PixelWorld& into) const = 0;
  // Whether every index shows the same picture (a still), so that one kept
  // frame serves them all.
  virtual bool SameAtEveryIndex() const { return false; }

 private:
  mutable DrawnFrames drawn_;
};

// Opaque colour ramp: red rises left to right, green top to bottom, blue
// falls along the diagonal. A still.
class GradientSource : public PixelSource {
 public:
  std::string Describe() const override;

 protected:
  void Paint(A_long frame_index, PixelWorld& into) const override;
  bool SameAtEveryIndex() const override { return true; }
};

// Opaque light and dark grey squares of `cell` pixels at the layer's full
// size (full_width x full_height); drawn smaller, the cells shrink in step.
// The top-left cell is light. A still.
class CheckerSource : public PixelSource {
 public:
  CheckerSource(A_long cell, A_long full_width, A_long full_height);
  std::string Describe() const override;

 protected:
  void Paint(A_long frame_index, PixelWorld& into) const override;
  bool SameAtEveryIndex() const override { return true; }

 private:
  A_long cell_, full_width_, full_height_;
};

// The colour behind frame `index` on a frame-number card: opaque, and
// different for each index modulo 512 (red, green and blue each take one of
// 8 levels 40, 70, ..., 250 from the index's three octal digits, lowest digit
// in red). Negative indices wrap the same way (-1 looks like 511).
PF_Pixel8 FrameCardColor(A_long index);
// The index modulo 512 whose card colour is within 12 levels of `pixel` on
// each channel, or -1 when the pixel is no card colour. Reads a card back
// from a rendered frame even after filtering.
A_long FrameCardIndexOf(const PF_Pixel8& pixel);

// A card per frame: FrameCardColor(index) as background, the index in large
// white digits in the middle, a caption (the layer's name, say) above it, and
// a white outline inset from the edges so cropping and scaling show. The
// outer band of the card, 1/32 of its smaller side wide (at least one pixel),
// is always the plain background colour. frame_count 0: any index.
class FrameCardSource : public PixelSource {
 public:
  explicit FrameCardSource(std::string caption = "", A_long frame_count = 0);
  A_long frame_count() const override { return frame_count_; }
  std::string Describe() const override;

 protected:
  void Paint(A_long frame_index, PixelWorld& into) const override;

 private:
  std::string caption_;
  A_long frame_count_;
};

// PNG files: a still, or a numbered sequence when the path holds one integer
// conversion in printf style ("%d", "%04d", "%4d"; "%%" is a literal percent).
// Frame i of a sequence is the file numbered first + i; the sequence runs
// over consecutive numbers from `first` for as long as files exist, and a
// later file the pattern matches past a missing number is an error naming
// the missing file. Files are resampled to the size asked for (area
// averaging when smaller). The file last decoded is kept, so a still is read
// once, not once a frame; a file whose pixels would take more than
// `max_read_bytes` (see ReadPng) is refused.
class PngSource : public PixelSource {
 public:
  // Throws PixelSourceError when the pattern has another conversion or more
  // than one, when no regular file exists (the still, or the first of a
  // sequence), when a sequence has a gap, or when the first file is not a
  // readable PNG.
  explicit PngSource(std::string path_pattern, A_long first = 1,
                     std::size_t max_read_bytes = kDefaultImageReadBudget);
  A_long frame_count() const override { return frame_count_; }
  std::string Describe() const override;
  // The file that frame_index reads (the still's path for a still).
  std::string PathOf(A_long frame_index) const;
  A_long file_width() const { return width_; }
  A_long file_height() const { return height_; }

 protected:
  void Paint(A_long frame_index, PixelWorld& into) const override;
  bool SameAtEveryIndex() const override { return !sequence_; }

 private:
  std::string pattern_;
  A_long first_;
  bool sequence_ = false;
  A_long frame_count_ = 0;
  A_long width_ = 0, height_ = 0;
  std::size_t max_read_bytes_;

  // The decoded file of `path` at `depth`, from the one kept or read anew.
  std::shared_ptr<const PixelWorld> Decoded(const std::string& path, BitDepth depth) const;
  // Several layers and threads may draw from one source.
  mutable std::mutex kept_mutex_;
  mutable std::string kept_path_;
  mutable BitDepth kept_depth_ = BitDepth::k8;
  mutable std::shared_ptr<const PixelWorld> kept_;
};

}  // namespace hostsim
