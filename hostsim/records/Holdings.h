// What the module holds from the host at one moment.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "A_Types.h"

namespace hostsim {

struct Holdings {
  int global_handles = 0;      // the handle kept as the effect's global data
  int pre_render_handles = 0;  // handles given to the host as pre-render data, not yet freed
  int other_handles = 0;       // every other live handle: these are leaks
  std::map<std::pair<std::string, A_long>, int> suites;  // acquired and not released, by name and version
  int effect_refs = 0;
  int stream_refs = 0;
  int stream_values = 0;
  int checked_out_params = 0;
  // Layer pixels of a render pass go back to the host when the pass ends,
  // checked in or not, so they are counted but are no leak.
  int checked_out_layer_pixels = 0;

  int handles() const { return global_handles + pre_render_handles + other_handles; }
  int suites_held() const;

  // Nothing held at all (lent layer pixels aside, see above).
  bool Empty() const { return handles() == 0 && NothingButHandles(); }
  // Nothing but the handles the host keeps for the effect (global and pre-render data).
  bool NothingButHostKeptHandles() const { return other_handles == 0 && NothingButHandles(); }

  // One line per kind of holding that is not zero; "nothing" when empty.
  std::string Describe() const;

 private:
  bool NothingButHandles() const {
    return suites_held() == 0 && effect_refs == 0 && stream_refs == 0 && stream_values == 0 &&
           checked_out_params == 0;
  }
};

}  // namespace hostsim
