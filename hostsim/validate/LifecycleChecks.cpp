// Checks of the commands outside rendering: the lifecycle in its documented
// order, the commands the effect ignores, and the property list's agreement
// with global setup.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>

#include "CheckContext.h"
#include "Checks.h"

#include "FileAccess.h"
#include "JsonText.h"
#include "PiplReader.h"

namespace hostsim::validate {

namespace {

using Json = nlohmann::ordered_json;

constexpr A_u_long kEffectVersion = 0x80601;
constexpr PF_OutFlags kOutFlags = 0x6000000;
constexpr PF_OutFlags2 kOutFlags2 = 0x1400;
// Bits the host already set before global setup; the effect must keep them.
constexpr PF_OutFlags kHostOutFlags = 0x1;
constexpr PF_OutFlags2 kHostOutFlags2 = 0x2;

std::string Hex(long long value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

std::vector<Json> CallsOfLast(const Host& host) { return host.trace().CallsOfLastCommand(); }

using F = HostFunctionId;

// Position of the first call of `function` at or after `from`, or -1.
int Find(const std::vector<Json>& calls, F function, int from = 0) {
  for (int i = std::max(from, 0); i < static_cast<int>(calls.size()); ++i) {
    if (calls[i]["call"] == TraceName(function)) return i;
  }
  return -1;
}

// Whether `functions` are called in this order (other calls may come between).
bool InOrder(const std::vector<Json>& calls, const std::vector<F>& functions, std::string* missing) {
  int at = 0;
  for (F function : functions) {
    at = Find(calls, function, at);
    if (at < 0) {
      *missing = TraceName(function);
      return false;
    }
    ++at;
  }
  return true;
}

std::string CallList(const std::vector<Json>& calls) {
  std::string text;
  for (const Json& call : calls) {
    if (call["call"] == TraceName(F::kAcquireSuite) || call["call"] == TraceName(F::kReleaseSuite)) continue;
    text += (text.empty() ? "" : ", ") + call["call"].get<std::string>();
  }
  return text.empty() ? "no call" : text;
}

void CheckGlobalSetup(CheckContext& ctx, Session& session) {
  Host& host = session.host();
  session.set_record_hook([](PF_Cmd cmd, PF_InData&, PF_OutData& out) {
    if (cmd == PF_Cmd_GLOBAL_SETUP) {
      out.out_flags = kHostOutFlags;
      out.out_flags2 = kHostOutFlags2;
    }
  });
  const PF_Err err = session.GlobalSetup();
  session.set_record_hook(nullptr);
  const PF_OutData& out = session.out_data();
  const std::vector<Json> calls = CallsOfLast(host);
  if (err != PF_Err_NONE) ctx.Fail("GlobalSetup returned " + std::to_string(err) + " instead of 0");
  if (out.my_version != kEffectVersion) {
    ctx.Fail("GlobalSetup announced version " + Hex(out.my_version) + " instead of " + Hex(kEffectVersion));
  }
  if (out.out_flags != (kHostOutFlags | kOutFlags)) {
    ctx.Fail("GlobalSetup left out_flags " + Hex(out.out_flags) + " where the host's " + Hex(kHostOutFlags) +
             " plus " + Hex(kOutFlags) + " were expected");
  }
  if (out.out_flags2 != (kHostOutFlags2 | kOutFlags2)) {
    ctx.Fail("GlobalSetup left out_flags2 " + Hex(out.out_flags2) + " where the host's " + Hex(kHostOutFlags2) +
             " plus " + Hex(kOutFlags2) + " were expected");
  }
  std::string missing;
  if (!InOrder(calls, {F::kNewHandle, F::kLockHandle, F::kRegisterWithAEGP, F::kUnlockHandle},
               &missing)) {
    ctx.Fail("GlobalSetup did not allocate, lock, register into and unlock its global handle in that order (" +
             missing + " missing or out of order; calls: " + CallList(calls) + ")");
  }
  const int alloc = Find(calls, F::kNewHandle);
  if (alloc >= 0 && calls[alloc]["size"] != 4) {
    ctx.Fail("GlobalSetup allocated a global handle of " + JsonText(calls[alloc]["size"]) + " bytes instead of 4");
  }
  const int reg = Find(calls, F::kRegisterWithAEGP);
  if (reg >= 0 && (calls[reg]["plugin_name"] != "Error!" || !calls[reg]["global_refcon"].is_null())) {
    ctx.Fail("GlobalSetup registered as " + JsonText(calls[reg]["plugin_name"]) + " with refcon " +
             JsonText(calls[reg]["global_refcon"]) + " instead of \"Error!\" with a null refcon");
  }
  PF_Handle global = out.global_data;
  if (global == nullptr || !host.handles().Contains(global)) {
    ctx.Fail("GlobalSetup left no live global handle with the host");
  } else if (host.plugin_ids().empty() || *static_cast<const A_long*>(static_cast<const void*>(*global)) != host.plugin_ids().back()) {
    ctx.Fail("the global handle holds " + std::to_string(*static_cast<const A_long*>(static_cast<const void*>(*global))) +
             " instead of the plug-in id the host registered");
  }
  std::vector<std::string> failures;
  ExpectCleanCommand(host, "GlobalSetup", failures);
  for (const std::string& f : failures) ctx.Fail(f);
}

void CheckParamsSetup(CheckContext& ctx, Session& session) {
  Host& host = session.host();
  const PF_Err err = session.ParamsSetup();
  if (err != PF_Err_NONE) ctx.Fail("ParamsSetup returned " + std::to_string(err) + " instead of 0");
  const auto& declared = host.declared_params();
  const std::size_t expected = std::size(controls::kSceneControls);
  if (declared.size() != expected) {
    ctx.Fail("ParamsSetup declared " + std::to_string(declared.size()) + " parameters instead of " +
             std::to_string(expected));
  }
  for (std::size_t i = 0; i < std::min(declared.size(), expected); ++i) {
    const PF_ParamDef& def = declared[i];
    const controls::SceneControl& want = controls::kSceneControls[i];
    const std::string name(def.name, strnlen(def.name, sizeof(def.name)));
    const std::string at = "parameter " + std::to_string(i + 1) + " (\"" + name + "\")";
    if (name != want.control) ctx.Fail(at + " should be \"" + want.control + "\"");
    if (def.param_type != want.type) {
      ctx.Fail(at + " has type " + std::to_string(def.param_type) + " instead of " + std::to_string(want.type));
    }
    if (def.uu.id != static_cast<A_long>(i + 1)) {
      ctx.Fail(at + " has id " + std::to_string(def.uu.id) + " instead of " + std::to_string(i + 1));
    }
    if (def.flags != PF_ParamFlag_START_COLLAPSED) {
      ctx.Fail(at + " has flags " + Hex(def.flags) + " instead of " + Hex(PF_ParamFlag_START_COLLAPSED));
    }
    // What the scene reader accepts must be what the effect declares it
    // accepts: the host never hands it a value outside that.
    double accepted_min = 0, accepted_max = 0;
    bool ranged = true;
    switch (def.param_type) {
      case PF_Param_POPUP: accepted_min = 1, accepted_max = def.u.pd.num_choices; break;
      case PF_Param_FIX_SLIDER: accepted_min = def.u.fd.valid_min / 65536.0, accepted_max = def.u.fd.valid_max / 65536.0; break;
      case PF_Param_FLOAT_SLIDER: accepted_min = def.u.fs_d.valid_min, accepted_max = def.u.fs_d.valid_max; break;
      default: ranged = false; break;
    }
    if (ranged && def.param_type == want.type &&
        (accepted_min != want.accepted_min || accepted_max != want.accepted_max)) {
      std::ostringstream range;
      range << at << " accepts " << accepted_min << " to " << accepted_max << " instead of " << want.accepted_min
            << " to " << want.accepted_max;
      ctx.Fail(range.str());
    }
  }
  for (const Json& call : CallsOfLast(host)) {
    if (call["call"] == TraceName(F::kAddParam) && call["index"] != -1) {
      ctx.Fail("ParamsSetup added a parameter at index " + JsonText(call["index"]) + " instead of appending (-1)");
    }
  }
  // The input layer counts as one.
  const A_long expected_count = static_cast<A_long>(expected) + 1;
  if (session.out_data().num_params != expected_count) {
    ctx.Fail("ParamsSetup reported " + std::to_string(session.out_data().num_params) + " parameters instead of " +
             std::to_string(expected_count));
  }
  std::vector<std::string> failures;
  ExpectCleanCommand(host, "ParamsSetup", failures);
  for (const std::string& f : failures) ctx.Fail(f);
}

void CheckUpdateParamsUI(CheckContext& ctx, Session& session) {
  Host& host = session.host();
  // Both ways, repeated, and values outside the popup's list in between.
  const A_long time_types[] = {1, 2, 2, 1, 0, 3, 2, -1, 1, 7};
  const PF_ParamIndex percent = host.DeclaredIndex(controls::kTimePercent);
  const PF_ParamIndex seconds = host.DeclaredIndex(controls::kTimeSec);
  bool percent_hidden = host.stream_hidden(percent);
  bool seconds_hidden = host.stream_hidden(seconds);
  for (A_long time_type : time_types) {
    const std::string what = "UpdateParamsUI with Time Type " + std::to_string(time_type);
    const PF_Err err = session.UpdateParamsUI(controls::kTimeType, time_type);
    if (err != PF_Err_NONE) ctx.Fail(what + " returned " + std::to_string(err) + " instead of 0");
    const bool known = time_type == controls::kPercent || time_type == controls::kSecond;
    if (known) {
      percent_hidden = time_type == controls::kSecond;
      seconds_hidden = time_type == controls::kPercent;
    }
    if (host.stream_hidden(percent) != percent_hidden || host.stream_hidden(seconds) != seconds_hidden) {
      auto shown = [](bool hidden) { return hidden ? "hidden" : "shown"; };
      ctx.Fail(what + " left Time(%) " + shown(host.stream_hidden(percent)) + " and Time(sec) " +
               shown(host.stream_hidden(seconds)) + " instead of " + shown(percent_hidden) + " and " +
               shown(seconds_hidden));
    }
    const std::vector<Json> calls = CallsOfLast(host);
    int flag_calls = 0;
    for (const Json& call : calls) {
      if (call["call"] != TraceName(F::kSetDynamicStreamFlag)) continue;
      ++flag_calls;
      if (call["undoable"] != 0) ctx.Fail(what + " made a visibility change undoable");
      if (call["flag"] != AEGP_DynStreamFlag_HIDDEN) {
        ctx.Fail(what + " changed stream flag " + JsonText(call["flag"]) + " instead of the hidden flag");
      }
    }
    if (known ? flag_calls != 2 : flag_calls != 0) {
      ctx.Fail(what + " changed stream flags " + std::to_string(flag_calls) + " times");
    }
    if (Find(calls, F::kGetNewEffectForEffect) < 0) ctx.Fail(what + " never asked for its effect reference");
    if ((session.out_data().out_flags & PF_OutFlag_REFRESH_UI) == 0) {
      ctx.Fail(what + " did not ask the host to refresh the controls");
    }
    std::vector<std::string> failures;
    ExpectCleanCommand(host, what, failures);
    for (const std::string& f : failures) ctx.Fail(f);
  }
}

void CheckAbout(CheckContext& ctx, Session& session) {
  const PF_Err err = session.About();
  if (err != PF_Err_NONE) ctx.Fail("About returned " + std::to_string(err) + " instead of 0");
  const std::string text = session.about_text();
  const std::string head = "TovaneParvolith, v1.00\r";
  if (text.compare(0, head.size(), head) != 0) {
    ctx.Fail("About wrote \"" + text.substr(0, 40) + "\" which does not start with the name and version 1.00");
  }
  std::vector<std::string> failures;
  ExpectCleanCommand(session.host(), "About", failures);
  for (const std::string& f : failures) ctx.Fail(f);
}

void CheckGlobalSetdown(CheckContext& ctx, Session& session) {
  Host& host = session.host();
  const PF_Handle global = host.global_data();
  const PF_Err err = session.GlobalSetdown();
  if (err != PF_Err_NONE) ctx.Fail("GlobalSetdown returned " + std::to_string(err) + " instead of 0");
  if (global != nullptr && host.handles().Contains(global)) ctx.Fail("GlobalSetdown did not free the global handle");
  const Holdings held = host.holdings();
  if (!held.Empty()) ctx.Fail("after GlobalSetdown the module still holds " + HeldText(held));
  for (const std::string& misuse : TakeMisuse(host)) ctx.Fail("GlobalSetdown misused the host: " + misuse);
}

}  // namespace

void CheckLifecycleOrder(CheckContext& ctx) {
  Host host(ctx.module());
  Session session(host);
  host.SetScene(StandardComposition(), StandardSettings(kCardLayer));
  CheckGlobalSetup(ctx, session);
  if (host.global_data() == nullptr) return;  // nothing later can run without the plug-in id
  CheckParamsSetup(ctx, session);
  CheckUpdateParamsUI(ctx, session);
  CheckAbout(ctx, session);
  // A frame between the UI updates and setdown: the lifecycle is not only setup and setdown.
  std::vector<std::string> failures;
  RenderAndCheckFrame(session, 1500, "a frame after the updates", failures);
  for (const std::string& f : failures) ctx.Fail(f);
  CheckGlobalSetdown(ctx, session);
  ctx.Summary("global setup, params setup, 10 visibility updates, About, one frame and global setdown");
}

void CheckIgnoredCommands(CheckContext& ctx) {
  Host host(ctx.module());
  Session session(host);
  host.SetScene(StandardComposition(), StandardSettings(kCardLayer));
  if (!SetUpEffect(session, ctx)) return;
  std::vector<std::string> failures;
  const PF_Cmd ignored[] = {PF_Cmd_UNUSED_0, PF_Cmd_SEQUENCE_SETUP, PF_Cmd_FRAME_SETUP, PF_Cmd_RENDER,
                            PF_Cmd_USER_CHANGED_PARAM, PF_Cmd_ARBITRARY_CALLBACK, 25, 1000, -1};
  // A recognisable pattern in the output record shows whether anything was written.
  PF_OutData pattern;
  std::memset(&pattern, 0x5A, sizeof(pattern));
  for (PF_Cmd cmd : ignored) {
    session.set_record_hook([&](PF_Cmd, PF_InData&, PF_OutData& out) { out = pattern; });
    const PF_Err err = session.SendPlain(cmd);
    session.set_record_hook(nullptr);
    const std::string what = "command " + std::to_string(static_cast<long long>(cmd));
    if (err != PF_Err_NONE) ctx.Fail(what + " returned " + std::to_string(err) + " instead of 0");
    if (std::memcmp(&session.out_data(), &pattern, sizeof(pattern)) != 0) ctx.Fail(what + " changed the output record");
    const std::vector<Json> calls = CallsOfLast(host);
    if (!calls.empty()) ctx.Fail(what + " called the host: " + calls.front()["call"].get<std::string>());
    ExpectCleanCommand(host, what, failures);
  }
  for (const std::string& f : failures) ctx.Fail(f);
  session.GlobalSetdown();
  ctx.Summary(std::to_string(std::size(ignored)) + " commands the effect does not handle");
}

void CheckPropertyList(CheckContext& ctx) {
  pipl::Bytes bytes;
  try {
    // Read as the loader found it: a regular file of bounded size, by a wide path on Windows.
    const std::string image = ReadRegularFile(ctx.module().path(), kMaxModuleBytes, "effect module");
    bytes.assign(image.begin(), image.end());
  } catch (const FileAccessError& unreadable) {
    ctx.Fail(unreadable.what());
    return;
  }
  if (!pipl::LooksLikePeImage(bytes)) {
    ctx.Skip("the module is not a Windows image and carries no property list resource (a Linux module has none)");
    return;
  }
  const std::vector<pipl::PeResource> resources = pipl::FindPeResources(bytes, "PIPL", 16000);
  if (resources.empty()) {
    ctx.Fail("the Windows module has no \"PIPL\" resource 16000, so the host would not find the effect");
    return;
  }
  pipl::PropertyList list;
  try {
    list = pipl::ParsePropertyList(resources.front().data);
  } catch (const pipl::FormatError& error) {
    ctx.Fail(std::string("the property list cannot be read: ") + error.what());
    return;
  }
  Host host(ctx.module());
  Session session(host);
  const PF_Err err = session.GlobalSetup();
  const PF_OutData out = session.out_data();
  if (host.global_data() != nullptr) session.GlobalSetdown();
  if (err != PF_Err_NONE) {
    ctx.Fail("GlobalSetup returned " + std::to_string(err) + ", so its announcement cannot be compared");
    return;
  }
  struct Word {
    const char* key;
    const char* meaning;
    std::uint32_t announced;
  };
  const Word words[] = {{"eVER", "effect version", out.my_version},
                        {"eGLO", "global out flags", static_cast<std::uint32_t>(out.out_flags)},
                        {"eGL2", "global out flags 2", static_cast<std::uint32_t>(out.out_flags2)}};
  for (const Word& word : words) {
    const pipl::Property* property = list.Find(word.key);
    if (property == nullptr) {
      ctx.Fail(std::string("the property list has no ") + word.meaning + " (\"" + word.key + "\")");
      continue;
    }
    try {
      const std::uint32_t listed = list.U32(*property);
      if (listed != word.announced) {
        ctx.Fail(std::string("the ") + word.meaning + " is " + Hex(listed) + " in the property list but " +
                 Hex(word.announced) + " at global setup");
      }
    } catch (const pipl::FormatError& error) {
      ctx.Fail(std::string("the ") + word.meaning + " cannot be read: " + error.what());
    }
  }
  ctx.Summary("version and both flag words compared with resource PIPL 16000");
}

}  // namespace hostsim::validate
