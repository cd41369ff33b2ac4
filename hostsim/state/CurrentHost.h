// The host state of the entry-point call running on this thread. The basic
// suite and the handle suite receive no context pointer, so every function
// the module calls finds its host here. Inline: every host call asks first.
#pragma once

namespace hostsim {

class HostState;

namespace detail {
inline thread_local HostState* t_current_host = nullptr;
}  // namespace detail

// Null when no call is running on this thread.
inline HostState* CurrentHost() { return detail::t_current_host; }

// Makes a host current on this thread for its lifetime, restoring whatever
// was current before.
class CurrentHostScope {
 public:
  explicit CurrentHostScope(HostState* host) : previous_(detail::t_current_host) { detail::t_current_host = host; }
  ~CurrentHostScope() { detail::t_current_host = previous_; }
  CurrentHostScope(const CurrentHostScope&) = delete;
  CurrentHostScope& operator=(const CurrentHostScope&) = delete;

 private:
  HostState* previous_;
};

}  // namespace hostsim
