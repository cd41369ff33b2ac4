#include "CurrentHost.h"

namespace hostsim {

namespace {
thread_local Host* t_current_host = nullptr;
}

Host* CurrentHost() { return t_current_host; }

CurrentHostScope::CurrentHostScope(Host* host) : previous_(t_current_host) { t_current_host = host; }

CurrentHostScope::~CurrentHostScope() { t_current_host = previous_; }

}  // namespace hostsim
