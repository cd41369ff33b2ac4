// tovane-host: drives the TovaneParvolith effect module through the
// substitute host. Each subcommand registers itself from its own file.

#include <CLI/CLI.hpp>

#include "Commands.h"

std::string DefaultModulePath() {
#if defined(TOVANE_DEFAULT_MODULE_PATH)
  return TOVANE_DEFAULT_MODULE_PATH;
#else
  return std::string();
#endif
}

int main(int argc, char** argv) {
  CLI::App app{"Drives the TovaneParvolith effect module through a substitute host."};
  app.require_subcommand(1);

  AddLifecycleCommand(app);
  AddPiplCommand(app);
#if defined(TOVANE_HAVE_RENDER_COMMAND)
  AddRenderCommand(app);
#endif
#if defined(TOVANE_HAVE_VALIDATE_COMMAND)
  AddValidateCommand(app);
#endif

  CLI11_PARSE(app, argc, argv);
  return 0;
}
