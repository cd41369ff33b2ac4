#include "RenderMeeting.h"

namespace hostsim::validate {

void RenderMeeting::Meet() {
  std::unique_lock<std::mutex> lock(mutex_);
  const unsigned long long mine = meeting_;
  ++arrived_;
  if (arrived_ >= parties_) {
    ReleaseLocked();
    return;
  }
  if (!arrivals_.wait_for(lock, kPatience, [&] { return meeting_ != mine; })) {
    --arrived_;
    ++missed_;
  }
}

void RenderMeeting::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  --parties_;
  if (arrived_ > 0 && arrived_ >= parties_) ReleaseLocked();
}

void RenderMeeting::ReleaseLocked() {
  if (arrived_ > 1) ++met_;  // the last party left alone meets no one
  arrived_ = 0;
  ++meeting_;
  arrivals_.notify_all();
}

int RenderMeeting::met() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return met_;
}

int RenderMeeting::missed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return missed_;
}

void MeetingCheckerSource::Paint(A_long frame_index, PixelWorld& into) const {
  meeting_.Meet();
  CheckerSource::Paint(frame_index, into);
}

}  // namespace hostsim::validate
