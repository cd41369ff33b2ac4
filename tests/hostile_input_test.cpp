// `tovane-host` against input a person or a script can hand it by mistake:
// whatever arrives, the command ends promptly with one message that names
// the file or field and the documented status, and no file it reads or
// writes is lost or left half written.
#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "FileAccess.h"
#include "ImageIO.h"
#include "JsonText.h"
#include "Trace.h"
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

// ---- Paths through a loop of symbolic links ------------------------------

class ThroughALinkLoop : public HostileInput, public ::testing::WithParamInterface<PathUse> {};

// A path that runs through links pointing at each other names no file: it is
// refused naming the path and the loop, and nothing is left behind.
TEST_P(ThroughALinkLoop, IsRefusedNamingThePath) {
  fs::create_symlink(dir_ / "loop_b", dir_ / "loop_a");
  fs::create_symlink(dir_ / "loop_a", dir_ / "loop_b");
  const fs::path path = dir_ / "loop_a" / "inside";
  std::string args = GetParam().args;
  for (const auto& [placeholder, value] :
       {std::pair<std::string, std::string>{"{}", Quoted(path)}, {"{out}", Quoted(dir_ / "out")},
        {"{plain}", Quoted(WriteScene(SceneText()))}}) {
    for (std::size_t at = args.find(placeholder); at != std::string::npos; at = args.find(placeholder))
      args.replace(at, placeholder.size(), value);
  }
  const CommandResult run = Host(args);
  EXPECT_EQ(run.exit_code, 1) << args << "\n" << run.out << run.err;
  EXPECT_NE(run.err.find(path.string()), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Too many levels of symbolic links"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("frame"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(EveryPathTheCommandTakes, ThroughALinkLoop,
                         ::testing::Values(PathUse{"Scene", "render {} --out {out}"},
                                           PathUse{"Out", "render {plain} --out {}"},
                                           PathUse{"RenderTrace", "render {plain} --out {out} --trace {}"},
                                           PathUse{"LifecycleTrace", "lifecycle --trace {}"},
                                           PathUse{"Module", "lifecycle --module {}"},
                                           PathUse{"PiplFile", "pipl {}"}),
                         [](const auto& info) { return std::string(info.param.name); });

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

// ---- Scene text that costs more than its size ---------------------------------

struct CostlyText {
  const char* name;
  std::string text;
  const char* refusal;  // what the message must say
};

class CostlyScene : public HostileInput, public ::testing::WithParamInterface<CostlyText> {};

std::string Nested(const std::string& open, const std::string& close, int depth, const std::string& inside = "") {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  text += inside;
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

// Text nested deep, anywhere in the scene, cost the reader time and memory
// growing with the square of its depth (a 60 KB file took 1.6 GB); text of
// many tiny values costs many times its size. Both are refused from the
// text, in time linear in its size and within the budget, naming why.
TEST_P(CostlyScene, IsRefusedBeforeParsing) {
  const CostlyText& c = GetParam();
  const fs::path scene = WriteScene(c.text);
  const CommandResult run = Host("render " + Quoted(scene) + " --out " + Quoted(dir_ / "out") + " --memory-budget 64");
  EXPECT_EQ(run.exit_code, 1) << run.out << run.err.substr(0, 2000);
  EXPECT_NE(run.err.find(scene.string() + ": scene: "), std::string::npos) << run.err.substr(0, 2000);
  EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(
    DepthAndCount, CostlyScene,
    ::testing::Values(
        CostlyText{"ArraysAtTheTop", Nested("[", "]", 120000), "nested more than 64 deep at line 1, byte 65"},
        CostlyText{"ObjectsInAField", "{\"composition\": " + Nested("{\"a\":", "}", 100000, "1") + "}",
                   "nested more than 64 deep"},
        CostlyText{"MixedOnLaterLines", "{\n\"layers\":\n" + Nested("[{\"x\":", "}]", 40000, "0") + "}",
                   "nested more than 64 deep at line 3"},
        CostlyText{"ManyTinyValues", "{\"render\": {\"times\": [" + Nested("0,", "", 1500000) + "0]}}",
                   "more than the memory budget of 64 MiB"}),
    [](const auto& info) { return std::string(info.param.name); });

// Brackets inside strings are text, not nesting: a scene whose names hold
// them is read as before.
TEST_F(HostileInput, BracketsInStringsAreNotNesting) {
  std::string scene = SceneText();
  scene.insert(scene.find("\"id\": 2"), "\"name\": \"" + std::string(200, '[') + "\\\"" + std::string(200, '{') + "\", ");
  const CommandResult run = Host("render " + Quoted(WriteScene(scene)) + " --out " + Quoted(dir_ / "out"));
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
}

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
  fs::create_directory_symlink(dir_, dir_ / "linked");
  fs::create_hard_link(module_copy, dir_ / "hard_link.so");
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
                      Overwrite{"LifecycleTraceOnTheModule", "lifecycle --module {module} --trace {module}", "module"},
                      // Other spellings of the same file: through a linked directory, a hard link, a dot segment.
                      Overwrite{"TraceOnTheSceneThroughALinkedDirectory", "render {scene} --out {dir}/out --trace {dir}/linked/scene.json", "scene"},
                      Overwrite{"TraceOnAHardLinkToTheModule", "render {scene} --module {module} --out {dir}/out --trace {dir}/hard_link.so", "module"},
                      Overwrite{"FramesOverTheSourcesThroughALink", "render {scene} --out {dir}/linked/.", "source"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Outputs that would overwrite each other ----------------------------

struct OwnOutput {
  const char* name;
  const char* args;    // {scene} and {dir} are filled in
  const char* victim;  // the output, left by an earlier run, that the trace would replace
};

class OutputOverOutput : public HostileInput, public ::testing::WithParamInterface<OwnOutput> {};

// The trace aimed at a file the same render writes would silently replace a
// frame or the sheet: it is refused before anything is written, and what an
// earlier run left there keeps every byte.
TEST_P(OutputOverOutput, IsRefusedAndNothingWritten) {
  const OwnOutput& c = GetParam();
  const fs::path scene = WriteScene(SceneText());
  fs::create_directories(dir_ / "out");
  Spit(dir_ / "out" / c.victim, "from an earlier run");
  std::string args = c.args;
  for (const auto& [placeholder, value] :
       {std::pair<std::string, fs::path>{"{scene}", scene}, {"{dir}", dir_}}) {
    for (std::size_t at = args.find(placeholder); at != std::string::npos; at = args.find(placeholder))
      args.replace(at, placeholder.size(), Quoted(value));
  }
  const CommandResult run = Host(args);
  EXPECT_EQ(run.exit_code, 1) << args << "\n" << run.out << run.err;
  EXPECT_NE(run.err.find("would overwrite"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(dir_ / "out" / c.victim), "from an earlier run");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1) << "something was written";
}

INSTANTIATE_TEST_SUITE_P(
    TraceOverItsOwnRender, OutputOverOutput,
    ::testing::Values(OwnOutput{"TraceOnAFrame", "render {scene} --out {dir}/out --trace {dir}/out/frame_0001.png",
                                "frame_0001.png"},
                      OwnOutput{"TraceOnAFrameSpelledOtherwise",
                                "render {scene} --out {dir}/out --trace {dir}/out/../out/./frame_0000.png",
                                "frame_0000.png"},
                      OwnOutput{"TraceOnTheContactSheet", "render --out {dir}/out --trace {dir}/out/contact_sheet.png",
                                "contact_sheet.png"}),
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

// An output folder no file can be made in is refused before the module is
// loaded, naming the folder, for a scene and for the contact sheet alike,
// and so is a trace's. A
// folder made read-only does not stop root, so there /sys stands in for it.
TEST_F(HostileInput, AnUnwritableOutputFolderIsRefusedBeforeRendering) {
  fs::path folder = "/sys";
  if (geteuid() != 0) {
    folder = dir_ / "read_only";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const fs::path scene = WriteScene(SceneText());
  for (const std::string& args : {"render " + Quoted(scene) + " --out " + Quoted(folder), "render --out " + Quoted(folder)}) {
    const CommandResult run = Host(args);
    EXPECT_EQ(run.exit_code, 1) << args << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(folder.string() + ": the folder of "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("cannot be written to: creating a file there failed"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("frame"), std::string::npos) << run.out;
  }
  const CommandResult trace = Host("lifecycle --trace " + Quoted(folder / "trace.jsonl"));
  EXPECT_EQ(trace.exit_code, 1) << trace.out << trace.err;
  EXPECT_NE(trace.err.find(folder.string() + ": the folder of the trace"), std::string::npos) << trace.err;
  EXPECT_EQ(trace.out.find("global setup"), std::string::npos) << trace.out;
  if (folder != "/sys") fs::permissions(folder, fs::perms::owner_all);
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

// The file a write goes through is new, beside its final name, under a name
// nobody could have planted a link at beforehand; a link planted at the
// final name is replaced, never followed; a failed write leaves nothing.
TEST_F(HostileInput, TemporaryFilesAreNewUnguessableAndFollowNoLink) {
  const fs::path victim = dir_ / "victim.txt";
  Spit(victim, "keep");
  const fs::path final_path = dir_ / "out.png";
  fs::create_symlink(victim, final_path);
  std::set<std::string> names;
  for (int i = 0; i < 3; ++i) {
    WriteThroughTemporary(final_path.string(), [&](std::FILE* file) {
      names.insert(fs::read_symlink("/proc/self/fd/" + std::to_string(fileno(file))).filename().string());
      std::fputs("new", file);
    });
  }
  EXPECT_EQ(Slurp(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(final_path));
  EXPECT_EQ(Slurp(final_path), "new");
  EXPECT_EQ(names.size(), 3u) << "a name was used twice";
  for (const std::string& name : names)
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(out\.png\.partial-[0-9a-f]{16})"))) << name;

  EXPECT_THROW(WriteThroughTemporary((dir_ / "failed.png").string(),
                                     [](std::FILE*) { throw std::runtime_error("the encoder gave up"); }),
               std::runtime_error);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2) << "a temporary file stayed";
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
  // Small on disk (PNG is written at the fastest level), large in memory.
  ASSERT_LT(fs::file_size(dir_ / "large.png"), 128u * 1024u);

  const std::string scene = Quoted(WriteScene(SceneText(R"({"type": "png", "path": "large.png"})")));
  const CommandResult refused = Host("render " + scene + " --out " + Quoted(dir_ / "out") + " --memory-budget 24");
  EXPECT_EQ(refused.exit_code, 1) << refused.out << refused.err;
  EXPECT_NE(refused.err.find("large.png: 2048x2048 pixels"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("limit for an image read"), std::string::npos) << refused.err;

  const CommandResult within = Host("render " + scene + " --out " + Quoted(dir_ / "out") + " --memory-budget 64");
  EXPECT_EQ(within.exit_code, 0) << within.out << within.err;
}

// ---- A module that dies ---------------------------------------------------------

struct Death {
  const char* name;
  const char* command;  // "render" or "lifecycle"
  const char* in;       // TOVANE_DIE_IN
  const char* nth;      // TOVANE_DIE_NTH
  const char* how;      // TOVANE_DIE_HOW
  const char* stage;    // what the report must name
  const char* ending;   // how the report must say it ended
  const char* jobs = "1";  // frames rendered at once
};

class ModuleThatDies : public HostileInput, public ::testing::WithParamInterface<Death> {};

// However the module ends the process, in whichever command, the command
// says so naming what the module was doing, exits 1, and leaves no file
// under a final name, not even the frames rendered before: a frame written
// before the module died is as untrustworthy as the run.
TEST_P(ModuleThatDies, IsReportedAndNothingKept) {
  const Death& c = GetParam();
  const fs::path scene = WriteScene(R"({"composition": {"width": 8, "height": 8, "frame_rate": 30},
    "layers": [{"id": 1, "width": 8, "height": 8, "duration": 4, "source": {"type": "gradient"}}],
    "effect": {"on_layer": 1}, "render": {"times": [0, 0.1, 0.2, 0.3]}})");
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  // Under AddressSanitizer the crash must stay a signal, as it is elsewhere.
  const std::string environment = std::string("ASAN_OPTIONS=handle_segv=0 TOVANE_DIE_IN=") + c.in +
                                  " TOVANE_DIE_NTH=" + c.nth + " TOVANE_DIE_HOW=" + c.how + " ";
  const std::string module = " --module " + Quoted(TOVANE_DYING_MODULE_PATH) + " --timeout 2 --trace " +
                             Quoted(out / "trace.jsonl");
  const std::string args = std::string(c.command) == "render"
                               ? "render " + Quoted(scene) + " --out " + Quoted(out) + " --jobs " + c.jobs + module
                               : "lifecycle" + module;
  const CommandResult run = testing::RunHostCommand(args, dir_, 60, environment);
  EXPECT_EQ(run.exit_code, 1) << args << "\n" << run.out << run.err;
  EXPECT_NE(run.err.find(c.ending), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(c.stage), std::string::npos) << run.err;
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(out)) left.push_back(entry.path().filename().string());
  EXPECT_TRUE(left.empty()) << "left behind: " << left.front();
}

INSTANTIATE_TEST_SUITE_P(
    InEveryWay, ModuleThatDies,
    ::testing::Values(
        Death{"RenderCrashAtTheThirdFrame", "render", "render", "3", "segv", "frame 3 at 0.2 s", "the module crashed"},
        Death{"RenderAbortAtTheFirstFrame", "render", "render", "1", "abort", "frame 1 at 0 s", "the module crashed"},
        Death{"RenderExitsZeroAtTheSecondFrame", "render", "render", "2", "exit0", "frame 2 at",
              "the module ended the process (exit status 0)"},
        Death{"RenderHangsAtTheSecondFrame", "render", "render", "2", "hang", "frame 2 at",
              "did not return within 2 s"},
        // Frames rendered at once: the report names every frame the
        // module was rendering, the one it died in among them.
        Death{"RenderCrashWithThreeAtOnce", "render", "render", "3", "segv", "frame", "the module crashed", "3"},
        Death{"RenderHangsWithThreeAtOnce", "render", "render", "2", "hang", "frame", "did not return within 2 s",
              "3"},
        Death{"RenderCrashInSetup", "render", "setup", "1", "segv", "global setup", "the module crashed"},
        Death{"LifecycleCrashInAbout", "lifecycle", "about", "1", "segv", "about", "the module crashed"},
        Death{"LifecycleExitsZeroInSetup", "lifecycle", "setup", "1", "exit0", "global setup",
              "the module ended the process (exit status 0)"},
        Death{"LifecycleHangsInAbout", "lifecycle", "about", "1", "hang", "about", "did not return within 2 s"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Text that is not UTF-8 ---------------------------------------------------

// Bytes that are no UTF-8 (cut sequences, overlong forms, stray continuation
// bytes, surrogates) reach every JSON writer as strings: the text written
// is whole JSON, each bad byte is U+FFFD, and the writer says it replaced.
TEST_F(HostileInput, TextThatIsNotUtf8ReachesEveryJsonWriterWhole) {
  const std::string bad[] = {"\xff", "cut \xe2\x82", "overlong \xc0\xaf", "stray \x80\x80", "surrogate \xed\xa0\x80"};
  Trace trace;
  for (const std::string& text : bad) {
    bool replaced = false;
    const std::string written = JsonText(nlohmann::ordered_json{{"name", text}}, -1, &replaced);
    EXPECT_TRUE(replaced) << written;
    EXPECT_NE(nlohmann::json::parse(written).at("name").get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
    trace.Add({{"call", "add_param"}, {"name", text}});
  }
  trace.Add({{"call", "add_param"}, {"name", "Time Type"}});
  EXPECT_EQ(WriteTraceFile((dir_ / "trace.jsonl").string(), {&trace}), std::size(bad));
  std::istringstream lines(Slurp(dir_ / "trace.jsonl"));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) EXPECT_NO_THROW(nlohmann::json::parse(line)) << line;
  EXPECT_EQ(count, static_cast<int>(std::size(bad)) + 1);

  // A reason on the command line lands in validate's report.
  const CommandResult run = Host("validate --json --only module-loads --only ignored-commands --skip \"$(printf 'ignored-commands=\\377\\376 reason')\"");
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NO_THROW(nlohmann::json::parse(run.out)) << run.out;
  EXPECT_NE(run.err.find("not UTF-8"), std::string::npos) << run.err;
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
                                           "validate --timeout 0", "validate --only no-such-check",
                                           "validate --threads 100000", "validate --frames 2000000000",
                                           "validate --fuzz-cases -1", "render --timeout 0", "lifecycle --timeout x", "render \"\"",
                                           "render --depth \"\""));

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
