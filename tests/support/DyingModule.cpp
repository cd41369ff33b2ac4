// A module that ends its process in the middle of a run, for the commands'
// isolation: it answers every command with success until the Nth time it is
// given the command named by TOVANE_DIE_IN ("setup", "render", "about"),
// then dies as TOVANE_DIE_HOW says: "segv" (a write through null), "abort",
// "exit0" (exit(0), as a module that quits the host would) or "hang".
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "PF_EntryPoint.h"

namespace {

PF_Cmd CommandToDieIn() {
  const char* name = std::getenv("TOVANE_DIE_IN");
  if (name == nullptr) return -1;
  if (std::strcmp(name, "setup") == 0) return PF_Cmd_GLOBAL_SETUP;
  if (std::strcmp(name, "render") == 0) return PF_Cmd_SMART_RENDER;
  if (std::strcmp(name, "about") == 0) return PF_Cmd_ABOUT;
  return -1;
}

[[noreturn]] void Die() {
  const char* how = std::getenv("TOVANE_DIE_HOW");
  if (how != nullptr && std::strcmp(how, "abort") == 0) std::abort();
  if (how != nullptr && std::strcmp(how, "exit0") == 0) std::exit(0);
  if (how != nullptr && std::strcmp(how, "hang") == 0)
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  std::abort();
}

// Counted across threads: frames render several at once.
std::atomic<int> given{0};

}  // namespace

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  const char* nth = std::getenv("TOVANE_DIE_NTH");
  if (cmd == CommandToDieIn() && ++given >= (nth ? std::atoi(nth) : 1)) Die();
  return PF_Err_NONE;
}
