// `tovane-host` against input a person or a script can hand it by mistake:
// whatever arrives, the command ends promptly with one message that names
// the file or field and the documented status, and no file it reads or
// writes is lost or left half written.
#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ImageIO.h"
#include "Module.h"
#include "command_test_util.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

namespace fs = std::filesystem;

using testing::CommandResult;
using testing::Slurp;

void Spit(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::string Quoted(const fs::path& p) { return "\"" + p.string() + "\""; }

// A small scene whose second layer shows `source` (JSON).
std::string SceneText(const std::string& source = R"({"type": "frame_card"})") {
  return R"({
  "composition": {"width": 64, "height": 36, "frame_rate": 30},
  "layers": [
    {"id": 1, "width": 64, "height": 36, "duration": 4, "source": {"type": "checker", "cell": 8}},
    {"id": 2, "width": 32, "height": 18, "duration": 4, "source": )" +
         source + R"(}
  ],
  "effect": {"on_layer": 1, "mode": "Whole", "layer": 2},
  "render": {"times": [0, 0.5]}
})";
}

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names hold '/'
    dir_ = testing::FreshTempDir("tovane_hostile_" + name);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Runs `tovane-host ARGS`; a command that does not end in 60 s is killed
  // and fails the test, so a hang is a failure and not a stuck test run.
  CommandResult Host(const std::string& args) { return testing::RunHostCommand(args, dir_, 60); }

  fs::path WriteScene(const std::string& text, const std::string& name = "scene.json") {
    Spit(dir_ / name, text);
    return dir_ / name;
  }

  fs::path dir_;
};

// ---- Paths that are no regular file -------------------------------------

// Where a path reaches the command, with {} standing for it.
struct PathUse {
  const char* name;
  const char* args;  // {} is the path; {scene} a scene whose PNG source is the path
};

enum class NotAFile { kDirectory, kFifo, kDevice };

class NotARegularFile : public HostileInput,
                        public ::testing::WithParamInterface<std::tuple<PathUse, NotAFile>> {
 protected:
  fs::path MakePath(NotAFile kind) {
    switch (kind) {
      case NotAFile::kDirectory:
        fs::create_directories(dir_ / "a_directory");
        return dir_ / "a_directory";
      case NotAFile::kFifo:
        EXPECT_EQ(mkfifo((dir_ / "a_fifo").c_str(), 0600), 0);
        return dir_ / "a_fifo";
      case NotAFile::kDevice:
        return "/dev/zero";
    }
    return {};
  }
};

// A FIFO would block a reader for ever and /dev/zero never ends: each is
// refused before it is opened, naming the path.
TEST_P(NotARegularFile, IsRefusedAtOnceNamingIt) {
  const auto& [use, kind] = GetParam();
  const fs::path path = MakePath(kind);
  std::string args = use.args;
  const fs::path scene =
      WriteScene(SceneText(R"({"type": "png", "path": ")" + path.string() + R"("})"), "png_scene.json");
  for (const auto& [placeholder, value] :
       {std::pair<std::string, std::string>{"{scene}", Quoted(scene)}, {"{}", Quoted(path)},
        {"{out}", Quoted(dir_ / "out")}, {"{plain}", Quoted(WriteScene(SceneText()))}}) {
    for (std::size_t at = args.find(placeholder); at != std::string::npos; at = args.find(placeholder))
      args.replace(at, placeholder.size(), value);
  }
  const CommandResult run = Host(args);
  EXPECT_EQ(run.exit_code, 1) << args << "\n" << run.out << run.err;
  EXPECT_NE(run.err.find(path.string()), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
}

std::string NameOfUse(const ::testing::TestParamInfo<std::tuple<PathUse, NotAFile>>& info) {
  static const char* const kinds[] = {"Directory", "Fifo", "Device"};
  return std::string(std::get<0>(info.param).name) + kinds[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    EveryPathTheCommandTakes, NotARegularFile,
    ::testing::Combine(::testing::Values(PathUse{"Scene", "render {} --out {out}"},
                                         PathUse{"PngSource", "render {scene} --out {out}"},
                                         PathUse{"PiplFile", "pipl {}"},
                                         PathUse{"Module", "lifecycle --module {}"},
                                         PathUse{"RenderTrace", "render {plain} --out {out} --trace {}"}),
                       ::testing::Values(NotAFile::kDirectory, NotAFile::kFifo, NotAFile::kDevice)),
    NameOfUse);

// ---- More memory than the budget ------------------------------------------

struct Oversized {
  const char* name;
  int width, height, depth;
  const char* options;
};

class OverBudget : public HostileInput, public ::testing::WithParamInterface<Oversized> {};

// The size limit lets each side reach 30000, which no machine holds at 32
// bits: such a scene is refused before a world is allocated.
TEST_P(OverBudget, IsRefusedBeforeAllocating) {
  const Oversized& c = GetParam();
  const std::string w = std::to_string(c.width), h = std::to_string(c.height);
  const fs::path scene = WriteScene(R"({"composition": {"width": )" + w + R"(, "height": )" + h + R"(},
    "layers": [{"id": 1, "width": )" + w + R"(, "height": )" + h + R"(, "duration": 1, "source": {"type": "gradient"}}],
    "effect": {"on_layer": 1}, "render": {"times": [0], "depth": )" + std::to_string(c.depth) + "}}");
  const CommandResult run = Host("render " + Quoted(scene) + " --out " + Quoted(dir_ / "out") + " " + c.options);
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("more than the memory budget"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(scene.string()), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("frame 1/1"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Compositions, OverBudget,
                         ::testing::Values(Oversized{"Largest32Bit", 30000, 30000, 32, ""},
                                           Oversized{"Large8Bit", 20000, 20000, 8, ""},
                                           Oversized{"FullHdUnderASmallBudget", 1920, 1080, 16, "--memory-budget 8"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Outputs that would overwrite inputs ---------------------------------

struct Overwrite {
  const char* name;
  const char* args;    // {scene}, {source}, {module} and {dir} are filled in
  const char* victim;  // "scene", "source" or "module": the file that must survive
};

class OutputOverInput : public HostileInput, public ::testing::WithParamInterface<Overwrite> {};

// A trace or frame aimed at a file the render reads is refused before
// anything is written, and the file keeps every byte.
TEST_P(OutputOverInput, IsRefusedAndTheInputKept) {
  const Overwrite& c = GetParam();
  // Source frames named as the render names its own output.
  PixelWorld card(32, 18, BitDepth::k8);
  card.Fill({1, 0.2f, 0.4f, 0.6f});
  for (const char* name : {"frame_0000.png", "frame_0001.png", "frame_0002.png"})
    WritePng(card.world(), (dir_ / name).string());
  const fs::path scene = WriteScene(SceneText(R"({"type": "png", "path": "frame_%04d.png", "first": 0})"));
  const fs::path source = dir_ / "frame_0000.png";
  const fs::path module_copy = dir_ / "module.so";
  fs::copy_file(TOVANE_MODULE_PATH, module_copy);
  const std::map<std::string, fs::path> victims = {{"scene", scene}, {"source", source}, {"module", module_copy}};
  const std::string before = Slurp(victims.at(c.victim));

  std::string args = c.args;
  for (const auto& [placeholder, value] : {std::pair<std::string, fs::path>{"{scene}", scene},
                                           {"{source}", source},
                                           {"{module}", module_copy},
                                           {"{dir}", dir_}}) {
    for (std::size_t at = args.find(placeholder); at != std::string::npos; at = args.find(placeholder))
      args.replace(at, placeholder.size(), Quoted(value));
  }
  const CommandResult run = Host(args);
  EXPECT_EQ(run.exit_code, 1) << args << "\n" << run.out << run.err;
  EXPECT_NE(run.err.find("would overwrite"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(victims.at(c.victim)), before) << c.victim << " changed";
}

INSTANTIATE_TEST_SUITE_P(
    TracesAndFrames, OutputOverInput,
    ::testing::Values(Overwrite{"TraceOnTheScene", "render {scene} --out {dir}/out --trace {scene}", "scene"},
                      Overwrite{"TraceOnASourceFrame", "render {scene} --out {dir}/out --trace {source}", "source"},
                      Overwrite{"FramesOverTheSourceSequence", "render {scene} --out {dir}", "source"},
                      Overwrite{"TraceOnTheModule", "render {scene} --module {module} --out {dir}/out --trace {module}",
                                "module"},
                      Overwrite{"LifecycleTraceOnTheModule", "lifecycle --module {module} --trace {module}", "module"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Writing frames ----------------------------------------------------------

// Frames are written beside their final name and renamed into place: a file
// already there is replaced whole, two renders into one directory each leave
// complete frames, and no temporary file stays behind.
TEST_F(HostileInput, FramesReplaceWhatWasThereWhole) {
  const fs::path scene = WriteScene(SceneText());
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  Spit(out / "frame_0000.png", std::string(100000, 'x'));  // a larger file from an earlier run

  const std::string render = "render " + Quoted(scene) + " --out " + Quoted(out);
  const std::string twice = "( \"" + std::string(TOVANE_HOST_PATH) + "\" " + render + " & \"" + TOVANE_HOST_PATH +
                            "\" " + render + " & wait ) > /dev/null 2>&1";
  ASSERT_EQ(std::system(twice.c_str()), 0);
  const CommandResult last = Host(render);
  ASSERT_EQ(last.exit_code, 0) << last.out << last.err;
  for (const char* name : {"frame_0000.png", "frame_0001.png"}) {
    const std::unique_ptr<PixelWorld> frame = ReadPng((out / name).string(), BitDepth::k8);
    EXPECT_EQ(frame->width(), 64) << name;
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame_0000.png", "frame_0001.png"}));

  // A directory where a frame belongs is refused, and named.
  fs::remove(out / "frame_0001.png");
  fs::create_directories(out / "frame_0001.png");
  const CommandResult blocked = Host(render);
  EXPECT_EQ(blocked.exit_code, 1);
  EXPECT_NE(blocked.err.find("frame_0001.png: cannot write here: it is a directory, not a regular file"), std::string::npos)
      << blocked.err;
}

// A render killed at any moment leaves under each frame's name either nothing
// or a whole image: the kill lands, most runs, in the middle of a write.
TEST_F(HostileInput, AKilledRenderLeavesOnlyWholeFrames) {
  const fs::path scene = WriteScene(R"({"composition": {"width": 1920, "height": 1080, "frame_rate": 30},
    "layers": [{"id": 1, "width": 1920, "height": 1080, "duration": 100, "source": {"type": "gradient"}}],
    "effect": {"on_layer": 1}, "render": {"times": [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11], "depth": 16}})");
  const fs::path out = dir_ / "out";
  const std::string killed = "\"" + std::string(TOVANE_HOST_PATH) + "\" render " + Quoted(scene) + " --out " +
                             Quoted(out) + " > /dev/null 2>&1 & sleep 1.5; kill -9 $! 2>/dev/null; wait";
  std::system(killed.c_str());
  int whole = 0;
  for (const auto& entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".partial-") != std::string::npos) continue;  // the write the kill interrupted
    EXPECT_NO_THROW(ReadPng(entry.path().string(), BitDepth::k16)) << name << " is not a whole image";
    ++whole;
  }
  RecordProperty("whole_frames", whole);
}

// ---- Unreadable content ------------------------------------------------------

// A PNG whose header reads but whose data is broken fails its frame, and the
// message says which file, not only the host's error code.
TEST_F(HostileInput, ABrokenImageIsNamedWhenItsFrameFails) {
  PixelWorld card(32, 18, BitDepth::k8);
  card.Fill({1, 0.5f, 0.5f, 0.5f});
  const fs::path png = dir_ / "card.png";
  WritePng(card.world(), png.string());
  std::string bytes = Slurp(png);
  const std::size_t data = bytes.find("IDAT");
  ASSERT_NE(data, std::string::npos);
  for (std::size_t i = data + 8; i < bytes.size() - 16; ++i) bytes[i] = static_cast<char>(0xA5);
  Spit(png, bytes);

  const CommandResult run =
      Host("render " + Quoted(WriteScene(SceneText(R"({"type": "png", "path": "card.png"})"))) + " --out " +
           Quoted(dir_ / "out"));
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("card.png"), std::string::npos) << run.err;
}

// A small PNG whose pixels would take more than --memory-budget is refused
// from its header when the frame reads it, naming the file, and the run fails.
TEST_F(HostileInput, AnImageOverTheMemoryBudgetIsRefusedNamingIt) {
  PixelWorld large(2048, 2048, BitDepth::k8);
  large.Fill({1, 0.5f, 0.5f, 0.5f});
  WritePng(large.world(), (dir_ / "large.png").string());
  ASSERT_LT(fs::file_size(dir_ / "large.png"), 64u * 1024u);

  const std::string scene = Quoted(WriteScene(SceneText(R"({"type": "png", "path": "large.png"})")));
  const CommandResult refused = Host("render " + scene + " --out " + Quoted(dir_ / "out") + " --memory-budget 24");
  EXPECT_EQ(refused.exit_code, 1) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("large.png: 2048x2048 pixels"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("limit for an image read"), std::string::npos) << refused.err;

  const CommandResult within = Host("render " + scene + " --out " + Quoted(dir_ / "out") + " --memory-budget 64");
  EXPECT_EQ(within.exit_code, 0) << within.out << within.err;
}

// ---- Wrong options -------------------------------------------------------------

class WrongOptions : public HostileInput, public ::testing::WithParamInterface<const char*> {};

// Whatever is wrong on the command line, the status is the documented 2 and
// not one of the option parser's own codes.
TEST_P(WrongOptions, ExitWithTwo) {
  const CommandResult run = Host(GetParam());
  EXPECT_EQ(run.exit_code, 2) << GetParam() << "\n" << run.err;
  EXPECT_FALSE(run.err.empty());
}

INSTANTIATE_TEST_SUITE_P(EverySubcommand, WrongOptions,
                         ::testing::Values("", "no-such-command", "render --depth 12", "render --bogus",
                                           "render --memory-budget 0", "render --memory-budget lots", "pipl",
                                           "pipl a b", "lifecycle --trace", "validate --seed minus-one",
                                           "validate --timeout 0", "validate --only no-such-check"));

// ---- Damaged modules ---------------------------------------------------------------

class TruncatedModule : public ::testing::TestWithParam<double> {};

// The loader maps what a module's headers describe; a module cut short is
// refused by name instead of taking the process down when a page past the
// end of the file is touched.
TEST_P(TruncatedModule, IsRefusedByName) {
  const fs::path dir = testing::FreshTempDir("tovane_truncated_module");
  const fs::path cut = dir / "cut.so";
  // Debug information after the loaded segments may go without harm; the
  // cuts fall within what the loader maps.
  const std::string whole = Slurp(TOVANE_MODULE_PATH);
  Elf64_Ehdr header;
  ASSERT_GE(whole.size(), sizeof header);
  std::memcpy(&header, whole.data(), sizeof header);
  std::uint64_t mapped_end = 0;
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment;
    std::memcpy(&segment, whole.data() + header.e_phoff + i * sizeof segment, sizeof segment);
    if (segment.p_type == PT_LOAD) mapped_end = std::max<std::uint64_t>(mapped_end, segment.p_offset + segment.p_filesz);
  }
  Spit(cut, whole.substr(0, static_cast<std::size_t>(static_cast<double>(mapped_end) * GetParam())));
  try {
    const Module module(cut.string());
    ADD_FAILURE() << "a module cut to " << GetParam() << " of its length loaded";
  } catch (const ModuleError& refused) {
    EXPECT_NE(std::string(refused.what()).find(cut.string()), std::string::npos) << refused.what();
  }
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(AtSeveralLengths, TruncatedModule,
                         ::testing::Values(0.0, 0.001, 0.05, 0.3, 0.6, 0.95, 0.9999));

}  // namespace
}  // namespace hostsim
