// Every suite name and version the module can pass to the host, compared byte
// for byte with the host's list of suites: the handler's whole catalogue (the
// bundle exports it, and a row without a getter is reached by no other test)
// and the drawing suites the AEFX helpers acquire themselves.

#include <dlfcn.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"

namespace {

// The host's suites by name, with every version the handler knows of each.
// Spellings are the host's, irregular ones included.
const std::vector<std::pair<std::string, std::vector<A_long>>> kHostSuites = {
    {"AEGP Keyframe Suite", {4, 3, 1}},
    {"AEGP Stream Suite", {8, 9, 7, 4}},
    {"AEGP Marker Suite", {1, 2}},
    {"AEGP Comp Suite", {9, 11, 14, 15, 4}},
    {"AEGP Layer Suite", {8, 10, 11, 12, 13, 5}},
    {"AEGP Dynamic Stream Suite", {2, 3, 5}},
    {"AEGP Canvas Suite", {10, 11}},
    {"AEGP Camera Suite", {2}},
    {"AEGP Register Suite", {6}},
    {"AEGP Memory Suite", {1}},
    {"AEGP Item Suite", {13, 11, 10, 7, 3}},
    {"AEGP Light Suite", {1, 2}},
    {"AEGP Effect Suite", {1, 2, 3}},
    {"AEGP Layer Mask Suite", {5, 2}},
    {"AEGP Mask Outline Suite", {3, 2}},
    {"AEGP Command Suite", {1}},
    {"AEGP Utility Suite", {7, 3, 10, 11}},
    {"AEGP Render Suite", {1, 2}},
    {"PF ANSI Suite", {1}},
    {"PF Handle Suite", {2}},
    {"PF Fill Matte Suite", {2}},
    {"PF World Transform Suite", {1}},
    {"AEGP QueryXform Suite", {4}},
    {"AEGP Composite Suite", {4}},
    {"PF World Suite", {1}},
    {"AEGP PF Interface Suite", {1}},
    {"PF Path Query Suite", {1}},
    {"PF Path Data Suite", {1, 1}},  // two slots of the one version
    {"PF AE App Suite", {6}},
    {"PF AE Adv App Suite", {2, 1}},
    {"AEGP IO In Suite", {5}},
    {"AEGP IO Out Suite", {7}},
    {"AEGP Persistent Data Suite", {3}},
    {"AEGP Render Queue Suite", {1}},
    {"AEGP Render Queue Item Suite", {3, 4}},
    {"AEGP Output Module Suite", {4}},
    {"AEGP File Import Manager Suite", {3}},
    {"PF Sampling8 Suite", {1}},
    {"PF Sampling16 Suite", {1}},
    {"PF Iterate8 Suite", {1}},
    {"PF iterate16 Suite", {1}},
    {"PF iterateFloat Suite", {1}},
    {"AEGP Collection Suite", {2, 1}},
    {"AEGP Text Document Suite", {1}},
    {"AEGP Sound Data Suite", {1}},
    {"AEGP Text Layer Suite", {1}},
    {"AEGP Artisan Util Suite", {1}},
    {"AEGP World Suite", {2, 3}},
    {"AEGP Render Options Suite", {1, 2}},
    {"AEGP Tracker Suite", {1}},
    {"AEGP Tracker Utility Suite", {1}},
    {"AE Plugin Helper Suite2", {2}},
    {"AEGP Proj Suite", {8}},
    {"AEGP Footage Suite", {11}},
    {"PF Color Settings Suite", {3, 1}},
    {"PF AE Adv Item Suite", {1}},
    {"PF ColorParamSuite", {1}},
    {"PF SamplingFloat Suite", {1}},
    {"PF Effect Custom UI Suite", {1}},
    {"PF Effect Custom UI Overlay Theme Suite", {1}},
    {"DRAWBOT Draw Suite", {1}},
    {"DRAWBOT Supplier Suite", {1}},
    {"DRAWBOT Surface Suite", {1}},
    {"DRAWBOT Path Suite", {1}},
};

using Row = std::pair<std::string, A_long>;

std::vector<Row> Sorted(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<Row> HostRows() {
  std::vector<Row> rows;
  for (const auto& [name, versions] : kHostSuites) {
    for (A_long version : versions) rows.emplace_back(name, version);
  }
  return Sorted(rows);
}

// The module as the host loads it, closed at the end of the test.
class LoadedModule {
 public:
  LoadedModule() : handle_(dlopen(TOVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  ~LoadedModule() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  void* Find(const char* symbol) const { return handle_ != nullptr ? dlsym(handle_, symbol) : nullptr; }

 private:
  void* handle_;
};

TEST(SuiteNamesTest, TheHandlersCatalogueIsTheHostsListByteForByte) {
  ASSERT_EQ(HostRows().size(), 102u) << "the host's list as written here";
  LoadedModule module;
  // The catalogue as the module exports it (its mangled name spells no host type).
  const auto* catalogue =
      static_cast<const AEGP_SuiteHandler::SuiteRow*>(module.Find("_ZN17AEGP_SuiteHandler10kCatalogueE"));
  ASSERT_NE(catalogue, nullptr) << dlerror();
  std::vector<Row> rows;
  for (int slot = 0; slot < AEGP_SuiteHandler::kSlotCount; ++slot) {
    if (catalogue[slot].name != nullptr) rows.emplace_back(catalogue[slot].name, catalogue[slot].version);
  }
  const std::vector<Row> expected = HostRows();
  const std::vector<Row> actual = Sorted(rows);
  std::vector<Row> missing, unknown;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(), std::back_inserter(unknown));
  for (const Row& row : missing) ADD_FAILURE() << "the catalogue lacks \"" << row.first << "\" " << row.second;
  for (const Row& row : unknown) ADD_FAILURE() << "the catalogue names \"" << row.first << "\" " << row.second
                                               << ", which the host does not offer under that name";
}

// A basic suite that records what it is asked for and delivers a stand-in table.
std::vector<Row>* g_asked = nullptr;
const int kAnyTable = 0;
SPErr RecordAcquire(const char* name, A_long version, const void** suite) {
  g_asked->emplace_back(name, version);
  *suite = &kAnyTable;
  return PF_Err_NONE;
}
SPErr RecordRelease(const char* name, A_long version) {
  g_asked->emplace_back(name, version);
  return PF_Err_NONE;
}

TEST(SuiteNamesTest, TheDrawingSuitesAreAskedForByTheHostsNames) {
  LoadedModule module;
  using Acquire = PF_Err (*)(PF_InData*, PF_OutData*, DrawbotSuites*);
  using Release = PF_Err (*)(PF_InData*, PF_OutData*);
  const auto acquire = reinterpret_cast<Acquire>(module.Find("AEFX_AcquireDrawbotSuites"));
  const auto release = reinterpret_cast<Release>(module.Find("AEFX_ReleaseDrawbotSuites"));
  ASSERT_NE(acquire, nullptr) << dlerror();
  ASSERT_NE(release, nullptr) << dlerror();

  std::vector<Row> asked;
  g_asked = &asked;
  SPBasicSuite basic{};
  basic.AcquireSuite = RecordAcquire;
  basic.ReleaseSuite = RecordRelease;
  PF_InData in_data{};
  in_data.pica_basicP = &basic;
  PF_OutData out_data{};
  DrawbotSuites suites{};
  EXPECT_EQ(acquire(&in_data, &out_data, &suites), PF_Err_NONE);
  EXPECT_EQ(release(&in_data, &out_data), PF_Err_NONE);
  g_asked = nullptr;

  const std::vector<Row> drawing = {
      {"DRAWBOT Draw Suite", 1}, {"DRAWBOT Supplier Suite", 1}, {"DRAWBOT Surface Suite", 1}, {"DRAWBOT Path Suite", 1}};
  std::vector<Row> expected = drawing;  // acquired, then given back, in the same order
  expected.insert(expected.end(), drawing.begin(), drawing.end());
  EXPECT_EQ(asked, expected);
}

}  // namespace
