// `tovane-host pipl MODULE`: prints the plug-in property list a module
// carries, as the host reads it before calling any code, and checks it
// against what the effect's global setup announces. MODULE is a Windows
// module (its "PIPL" resource 16000) or a bare list file, either byte order.

#include <iomanip>
#include <iostream>
#include <memory>
#include <string>

#include "CommandSupport.h"
#include "Commands.h"
#include "FileAccess.h"
#include "PiplReader.h"
#include "Session.h"

namespace {

constexpr std::uint16_t kPiplResourceId = 16000;
constexpr std::uint16_t kEnglishUnitedStates = 1033;
constexpr std::uint32_t kWesternCodePage = 1252;

struct PiplOptions {
  std::string path;
  bool global_setup = false;
  hostsim::MemoryBudget memory;
};

// Loads the module with this platform's loader and compares the version and
// flag words its global setup writes with the list's.
void CompareWithGlobalSetup(const std::string& path, const pipl::PropertyList& list,
                            std::vector<std::string>& problems) {
  hostsim::Module module(path);
  hostsim::Host host(module);
  hostsim::Session session(host);
  const PF_Err err = session.GlobalSetup();
  const PF_OutData out = session.out_data();
  session.GlobalSetdown();
  if (err != PF_Err_NONE) {
    problems.push_back("global setup returned " + std::to_string(err));
    return;
  }
  std::cout << "global setup: version 0x" << std::hex << out.my_version << ", out flags 0x" << out.out_flags
            << ", out flags 2 0x" << out.out_flags2 << std::dec << '\n';
  const std::pair<const char*, std::uint32_t> written[] = {
      {"eVER", static_cast<std::uint32_t>(out.my_version)},
      {"eGLO", static_cast<std::uint32_t>(out.out_flags)},
      {"eGL2", static_cast<std::uint32_t>(out.out_flags2)}};
  for (const auto& [key, value] : written) {
    const pipl::Property* property = list.Find(key);
    if (property != nullptr && property->data.size() == 4 && list.U32(*property) != value) {
      problems.push_back(std::string("'") + key + "' differs from what global setup wrote");
    }
  }
}

int RunPipl(const PiplOptions& options) {
  // The file is held twice while it is copied into bytes; what is left of
  // the budget then bounds the resources copied out of it.
  std::string contents = hostsim::ReadRegularFile(options.path, options.memory.bytes / 2, "module or list file");
  const pipl::Bytes bytes(contents.begin(), contents.end());
  std::string().swap(contents);

  std::vector<std::string> problems;
  pipl::PropertyList list;
  try {
    pipl::Bytes resource;  // the list copied out of a module
    const pipl::Bytes* list_bytes = &bytes;
    if (pipl::LooksLikePeImage(bytes)) {
      std::vector<pipl::PeResource> found = pipl::FindPeResources(bytes, "PIPL", kPiplResourceId, options.memory.bytes - bytes.size());
      if (found.empty()) {
        std::cerr << "pipl: '" << options.path << "' has no resource PIPL " << kPiplResourceId << '\n';
        return 1;
      }
      for (const pipl::PeResource& resource : found) {
        std::cout << "resource PIPL " << kPiplResourceId << ", language " << resource.language << ", code page "
                  << resource.code_page << ", " << resource.data.size() << " bytes\n";
      }
      if (found.size() != 1) problems.push_back("the module holds " + std::to_string(found.size()) + " PIPL lists");
      if (found[0].language != kEnglishUnitedStates) problems.push_back("the list's language is not 1033");
      if (found[0].code_page != kWesternCodePage) problems.push_back("the list's code page is not 1252");
      resource = std::move(found[0].data);
      list_bytes = &resource;
    }
    list = pipl::ParsePropertyList(*list_bytes);
  } catch (const pipl::FormatError& error) {
    std::cerr << "pipl: '" << options.path << "': " << error.what() << '\n';
    return 1;
  }

  std::cout << "property list: " << (list.big_endian ? "big" : "little") << "-endian, version " << list.version
            << ", " << list.declared_count << " properties\n";
  std::cout << "  offset  vendor  key   id  length  value\n";
  for (const pipl::Property& property : list.properties) {
    std::cout << "  " << std::setw(6) << property.offset << "  " << property.vendor << "    " << property.key
              << "  " << std::setw(2) << property.id << "  " << std::setw(6) << property.data.size() << "  "
              << pipl::DescribeValue(list, property) << '\n';
  }

  const std::vector<std::string> list_problems = pipl::CheckEffectList(list, pipl::ExpectationsFor(list));
  problems.insert(problems.end(), list_problems.begin(), list_problems.end());
  if (options.global_setup) {
    try {
      CompareWithGlobalSetup(options.path, list, problems);
    } catch (const hostsim::ModuleError& error) {
      problems.push_back(error.what());
    }
  }

  for (const std::string& problem : problems) std::cout << "problem: " << problem << '\n';
  std::cout << (problems.empty() ? "ok" : "FAILED") << '\n';
  return problems.empty() ? 0 : 1;
}

}  // namespace

void AddPiplCommand(CLI::App& app) {
  auto options = std::make_shared<PiplOptions>();
  CLI::App* command =
      app.add_subcommand("pipl", "Print and check the plug-in property list of a module or a list file");
  command->add_option("module", options->path, "Windows module (.aex) or property list file")->required();
  command->add_flag("--global-setup", options->global_setup,
                    "Also load the module here and compare what its global setup writes");
  AddMemoryBudgetOption(*command, options->memory);
  command->callback([options] { RunCommand("pipl", [&] { return RunPipl(*options); }); });
}
