// The host of the entry-point call running on this thread. The basic suite
// and the handle suite receive no context pointer, so every function the
// module calls finds its host here. Inline: every host call asks first.
#pragma once

namespace hostsim {

class Host;

namespace detail {
inline thread_local Host* t_current_host = nullptr;
}  // namespace detail

// Null when no call is running on this thread.
inline Host* CurrentHost() { return detail::t_current_host; }

// Makes a host current on this thread for its lifetime, restoring whatever
// was current before.
class CurrentHostScope {
 public:
  explicit CurrentHostScope(Host* host) : previous_(detail::t_current_host) { detail::t_current_host = host; }
  ~CurrentHostScope() { detail::t_current_host = previous_; }
  CurrentHostScope(const CurrentHostScope&) = delete;
  CurrentHostScope& operator=(const CurrentHostScope&) = delete;

 private:
  Host* previous_;
};

}  // namespace hostsim
