// Render threads that meet inside the effect. Several threads rendering at
// once overlap only when the scheduler lets them; the host lends pixels in
// the middle of every render pass, so holding each thread there until the
// others have arrived puts every render pass inside the effect at the same
// moment, whatever the scheduler does. A static the effect writes before
// that call and reads after it is then shared by all of them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "pixels/PixelSource.h"

namespace hostsim::validate {

class RenderMeeting {
 public:
  explicit RenderMeeting(int parties) : parties_(parties) {}
  RenderMeeting(const RenderMeeting&) = delete;
  RenderMeeting& operator=(const RenderMeeting&) = delete;

  // Waits until every party still taking part has arrived. A party that
  // never comes (its render failed before the host drew anything) holds the
  // others up for `patience` at most: the meeting is then missed, not hung.
  void Meet();
  // A party that will not arrive again: its frames are done or never began.
  void Leave();
  // Times two parties or more went on together, and times a party gave up
  // waiting.
  int met() const;
  int missed() const;

  static constexpr std::chrono::seconds kPatience{5};

 private:
  void ReleaseLocked();

  mutable std::mutex mutex_;
  std::condition_variable arrivals_;
  int parties_;
  int arrived_ = 0;
  unsigned long long meeting_ = 0;  // counts meetings, so a waiter sees its own end
  int met_ = 0;
  int missed_ = 0;
};

// The standard effect layer's checker, whose every painting is a meeting
// point. Each frame index is painted anew, never copied from a kept frame
// (the host's input for each frame must be a frame index of its own, or
// the pixels come from the source's copy and the thread does not meet).
class MeetingCheckerSource : public CheckerSource {
 public:
  MeetingCheckerSource(RenderMeeting& meeting, A_long cell, A_long full_width, A_long full_height)
      : CheckerSource(cell, full_width, full_height), meeting_(meeting) {}

 protected:
  void Paint(A_long frame_index, PixelWorld& into) const override;
  bool SameAtEveryIndex() const override { return false; }

 private:
  RenderMeeting& meeting_;
};

}  // namespace hostsim::validate
