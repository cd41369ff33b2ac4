// The host of the entry-point call running on this thread. The basic suite
// and the handle suite receive no context pointer, so every function the
// module calls finds its host here.
#pragma once

namespace hostsim {

class Host;

// Null when no call is running on this thread.
Host* CurrentHost();

// Makes a host current on this thread for its lifetime, restoring whatever
// was current before.
class CurrentHostScope {
 public:
  explicit CurrentHostScope(Host* host);
  ~CurrentHostScope();
  CurrentHostScope(const CurrentHostScope&) = delete;
  CurrentHostScope& operator=(const CurrentHostScope&) = delete;

 private:
  Host* previous_;
};

}  // namespace hostsim
