#include "SceneFile.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "Downsampled.h"
#include "FileAccess.h"
#include "JsonBounds.h"
#include "PixelSource.h"

namespace hostsim {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string& field, const std::string& what) { throw SceneError(field + ": " + what); }

// Unknown keys are mostly typos ("widht"); silently ignoring them would
// render something other than what the person meant.
void OnlyKeys(const Json& object, const std::string& field, const std::vector<std::string>& allowed) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = false;
    for (const std::string& key : allowed) known = known || it.key() == key;
    if (!known) Fail(field.empty() ? it.key() : field + "." + it.key(), "unknown field");
  }
}

const Json& Object(const Json& parent, const std::string& key, const std::string& field) {
  if (!parent.contains(key)) Fail(field, "missing (expected an object)");
  const Json& v = parent.at(key);
  if (!v.is_object()) Fail(field, "expected an object");
  return v;
}

std::int64_t Integer(const Json& v, const std::string& field, std::int64_t lo, std::int64_t hi, const char* expected) {
  std::int64_t n = 0;
  if (v.is_number_unsigned()) {
    const auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) Fail(field, expected);
    n = static_cast<std::int64_t>(u);
  } else if (v.is_number_integer()) {
    n = v.get<std::int64_t>();
  } else {
    Fail(field, expected);
  }
  if (n < lo || n > hi) Fail(field, std::string(expected) + ", got " + v.dump());
  return n;
}

constexpr std::int64_t kLongMin = std::numeric_limits<A_long>::min();
constexpr std::int64_t kLongMax = std::numeric_limits<A_long>::max();
// The host's largest layer and composition side.
constexpr std::int64_t kMaxSide = 30000;

A_long PositiveSide(const Json& v, const std::string& field) {
  return static_cast<A_long>(Integer(v, field, 1, kMaxSide, "expected a positive integer up to 30000"));
}

double Number(const Json& v, const std::string& field, const char* expected = "expected a number") {
  if (!v.is_number()) Fail(field, expected);
  const double d = v.get<double>();
  if (!std::isfinite(d)) Fail(field, expected);
  return d;
}

double PositiveRate(const Json& v, const std::string& field) {
  const double rate = Number(v, field, "expected a positive frame rate");
  if (!(rate > 0.0) || rate > 1000.0) Fail(field, "expected a positive frame rate up to 1000, got " + v.dump());
  return rate;
}

// Seconds as ticks of `scale`, refused unless they fit the host's 32-bit
// time: a value past it would wrap, and the module be asked for another time.
A_long RequireHostTicks(double seconds, A_u_long scale, const std::string& field) {
  const double ticks = std::round(seconds * scale);
  if (!(ticks >= static_cast<double>(kLongMin) && ticks <= static_cast<double>(kLongMax)))
    Fail(field, "time out of range at time scale " + std::to_string(scale) + " (the host counts time in 32 bits)");
  return static_cast<A_long>(ticks);
}

double Seconds(const A_Time& t) { return static_cast<double>(t.value) / t.scale; }

// Seconds, or exact {"value", "scale"}; seconds are stored at `scale`.
A_Time Time(const Json& v, const std::string& field, A_u_long scale) {
  if (v.is_object()) {
    OnlyKeys(v, field, {"value", "scale"});
    if (!v.contains("value")) Fail(field + ".value", "missing (expected an integer)");
    if (!v.contains("scale")) Fail(field + ".scale", "missing (expected a positive integer)");
    const auto value = static_cast<A_long>(Integer(v.at("value"), field + ".value", kLongMin, kLongMax,
                                                   "expected a 32-bit integer"));
    const auto s = static_cast<A_u_long>(Integer(v.at("scale"), field + ".scale", 1, 0xFFFFFFFFll,
                                                 "expected a positive 32-bit integer"));
    // The host counts every time in ticks of the composition's scale too.
    RequireHostTicks(static_cast<double>(value) / s, scale, field);
    return {value, s};
  }
  const double seconds = Number(v, field, "expected seconds as a number, or {\"value\": v, \"scale\": s}");
  return {RequireHostTicks(seconds, scale, field), scale};
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string RangeText(const controls::SceneControl& control) {
  std::ostringstream range;
  range << control.accepted_min << " to " << control.accepted_max;
  return range.str();
}

// A popup: one of its entries by text (any case), or its number.
A_long Popup(const Json& v, const std::string& field, const controls::SceneControl& popup) {
  std::string choices;
  for (std::size_t i = 0; i < popup.entry_count; ++i)
    choices += std::string(i ? ", " : "") + "\"" + popup.entries[i] + "\"";
  const std::string expected = "expected one of " + choices + " or an entry number from " + RangeText(popup);
  if (v.is_string()) {
    for (std::size_t i = 0; i < popup.entry_count; ++i)
      if (SameText(v.get<std::string>(), popup.entries[i])) return static_cast<A_long>(i + 1);
    Fail(field, expected + ", got " + v.dump());
  }
  return static_cast<A_long>(Integer(v, field, static_cast<std::int64_t>(popup.accepted_min),
                                     static_cast<std::int64_t>(popup.accepted_max), expected.c_str()));
}

// A control's value as the scene writes it, as the number the host holds
// for the control (see EffectSettings). The host never hands the effect a
// value it declared it does not accept, so one outside the range is refused.
double ControlValue(const Json& v, const std::string& field, const controls::SceneControl& control,
                    const std::set<A_long>& layer_ids) {
  switch (control.type) {
    case PF_Param_POPUP: return Popup(v, field, control);
    case PF_Param_LAYER: {
      const auto id = static_cast<A_long>(Integer(v, field, 0, kLongMax, "expected a layer id, or 0 for none"));
      if (id != 0 && !layer_ids.count(id)) Fail(field, "no layer has id " + std::to_string(id) + " (0 chooses none)");
      return id;
    }
    default: break;
  }
  const double value = Number(v, field, ("expected a number from " + RangeText(control)).c_str());
  if (value < control.accepted_min || value > control.accepted_max)
    Fail(field, "expected a number from " + RangeText(control) + ", got " + v.dump());
  return value;
}

// A control's value: a constant, or keyframes
// [{"time": t, "value": v, "hold": true}, ...] in strictly increasing time.
AnimatedValue AnimatedControl(const Json& v, const std::string& field, const controls::SceneControl& control,
                              const std::set<A_long>& layer_ids, A_u_long scale) {
  if (!v.is_array()) return AnimatedValue(ControlValue(v, field, control, layer_ids));
  if (v.empty()) Fail(field, "expected a value, or a non-empty array of keyframes {\"time\": t, \"value\": v}");
  std::vector<Keyframe> keys;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::string f = field + "[" + std::to_string(i) + "]";
    const Json& key = v[i];
    if (!key.is_object()) Fail(f, "expected a keyframe {\"time\": t, \"value\": v}");
    OnlyKeys(key, f, {"time", "value", "hold"});
    if (!key.contains("time")) Fail(f + ".time", "missing (expected a composition time)");
    if (!key.contains("value")) Fail(f + ".value", "missing");
    Keyframe keyframe;
    keyframe.seconds = Seconds(Time(key.at("time"), f + ".time", scale));
    keyframe.value = ControlValue(key.at("value"), f + ".value", control, layer_ids);
    if (key.contains("hold")) {
      if (!key.at("hold").is_boolean()) Fail(f + ".hold", "expected true or false");
      keyframe.hold = key.at("hold").get<bool>();
    }
    if (!keys.empty() && !(keyframe.seconds > keys.back().seconds))
      Fail(f + ".time", "expected a time later than the keyframe before it");
    keys.push_back(keyframe);
  }
  return AnimatedValue(std::move(keys));
}

const controls::SceneControl* SceneControlNamed(const std::string& control) {
  for (const controls::SceneControl& row : controls::kSceneControls) {
    if (control == row.control) return &row;
  }
  return nullptr;
}

std::string EntryName(const char* control, A_long value) {
  const controls::SceneControl* row = SceneControlNamed(control);
  if (value >= 1 && static_cast<std::size_t>(value) <= row->entry_count) return row->entries[value - 1];
  return std::to_string(value);
}

std::string JoinPath(const std::string& base, const std::string& path) {
  if (path.empty() || path[0] == '/' || base.empty() || base == ".") return path;
#if defined(_WIN32)
  if (path.size() > 1 && (path[1] == ':' || path[0] == '\\')) return path;
#endif
  const char last = base.back();
  return (last == '/' || last == '\\') ? base + path : base + "/" + path;
}

std::shared_ptr<const PixelSource> Source(const Json& v, const std::string& field, const LayerModel& layer,
                                          const std::string& base_dir, const MemoryBudget& budget) {
  if (v.is_null()) return nullptr;
  if (!v.is_object()) Fail(field, "expected an object such as {\"type\": \"frame_card\"}");
  if (!v.contains("type") || !v.at("type").is_string())
    Fail(field + ".type", "expected \"gradient\", \"checker\", \"frame_card\" or \"png\"");
  const std::string type = v.at("type").get<std::string>();
  if (type == "gradient") {
    OnlyKeys(v, field, {"type"});
    return std::make_shared<GradientSource>();
  }
  if (type == "checker") {
    OnlyKeys(v, field, {"type", "cell"});
    const A_long cell = v.contains("cell") ? PositiveSide(v.at("cell"), field + ".cell") : 64;
    return std::make_shared<CheckerSource>(cell, layer.width, layer.height);
  }
  if (type == "frame_card") {
    OnlyKeys(v, field, {"type", "caption", "frames"});
    std::string caption = layer.name;
    if (v.contains("caption")) {
      if (!v.at("caption").is_string()) Fail(field + ".caption", "expected a string");
      caption = v.at("caption").get<std::string>();
    }
    const A_long frames =
        v.contains("frames")
            ? static_cast<A_long>(Integer(v.at("frames"), field + ".frames", 0, kLongMax, "expected a non-negative integer"))
            : 0;
    return std::make_shared<FrameCardSource>(caption, frames);
  }
  if (type == "png") {
    OnlyKeys(v, field, {"type", "path", "first"});
    if (!v.contains("path") || !v.at("path").is_string() || v.at("path").get<std::string>().empty())
      Fail(field + ".path", "expected a file path or a numbered pattern such as \"frames/img_%04d.png\"");
    const A_long first =
        v.contains("first") ? static_cast<A_long>(Integer(v.at("first"), field + ".first", 0, kLongMax,
                                                          "expected a non-negative integer"))
                            : 1;
    try {
      return std::make_shared<PngSource>(JoinPath(base_dir, v.at("path").get<std::string>()), first,
                                         static_cast<std::size_t>(budget.bytes));
    } catch (const PixelSourceError& e) {
      Fail(field + ".path", e.what());
    }
  }
  Fail(field + ".type", "expected \"gradient\", \"checker\", \"frame_card\" or \"png\", got \"" + type + "\"");
}

constexpr const char* kTimesExpected =
    "expected a non-empty array of times, or {\"from\": t, \"count\": n} for n frames from t";
constexpr std::int64_t kMaxRenderFrames = 100000;

// The composition times to render: listed, or `count` consecutive frames of
// the composition from `from`, each one frame duration (in ticks) after the last.
std::vector<A_Time> RenderTimes(const Json& v, const CompositionModel& c) {
  std::vector<A_Time> times;
  if (v.is_array()) {
    if (v.empty()) Fail("render.times", kTimesExpected);
    for (std::size_t i = 0; i < v.size(); ++i)
      times.push_back(Time(v[i], "render.times[" + std::to_string(i) + "]", c.time_scale));
    return times;
  }
  if (!v.is_object()) Fail("render.times", kTimesExpected);
  OnlyKeys(v, "render.times", {"from", "count"});
  if (!v.contains("from")) Fail("render.times.from", "missing (expected a composition time)");
  if (!v.contains("count")) Fail("render.times.count", "missing (expected a number of frames)");
  const A_Time from = Time(v.at("from"), "render.times.from", c.time_scale);
  const auto count = Integer(v.at("count"), "render.times.count", 1, kMaxRenderFrames,
                             "expected a number of frames from 1 to 100000");
  const double step = static_cast<double>(c.time_scale) / c.frame_rate;
  const double first = Seconds(from) * c.time_scale;
  for (std::int64_t k = 0; k < count; ++k) {
    const A_long ticks = RequireHostTicks((first + std::round(k * step)) / c.time_scale, c.time_scale,
                                          "render.times.count");
    times.push_back(A_Time{ticks, c.time_scale});
  }
  return times;
}

// Follows the parser through the text, to refuse a key given twice in one
// object (the parser would keep the last silently) and to name the field a
// value that cannot be read belongs to.
class KeyWatch {
 public:
  void Saw(Json::parse_event_t event, const Json& parsed) {
    using Event = Json::parse_event_t;
    switch (event) {
      case Event::object_start:
      case Event::array_start:
        open_.push_back({event == Event::array_start, open_.empty() ? std::string() : Field(), 0, {}, {}});
        break;
      case Event::key: {
        Container& object = open_.back();
        object.key = parsed.get<std::string>();
        if (!object.keys.insert(object.key).second)
          Fail(Field(), "given twice in one object; remove one, as only one value can be used");
        break;
      }
      case Event::value:
        Finished();
        break;
      case Event::object_end:
      case Event::array_end:
        open_.pop_back();
        Finished();
        break;
    }
  }

  // The field the parser is reading, e.g. "render.times[2]" ("scene" at the top).
  std::string Field() const {
    if (open_.empty()) return "scene";
    const Container& inner = open_.back();
    if (inner.is_array) return inner.field + "[" + std::to_string(inner.elements) + "]";
    return inner.field.empty() ? inner.key : inner.field + "." + inner.key;
  }

 private:
  struct Container {
    bool is_array;
    std::string field;  // empty for the top-level object
    std::size_t elements;
    std::set<std::string> keys;
    std::string key;
  };

  void Finished() {
    if (!open_.empty() && open_.back().is_array) ++open_.back().elements;
  }

  std::vector<Container> open_;
};

}  // namespace

std::string ModeName(A_long mode) { return EntryName(controls::kMode, mode); }

std::string TimeTypeName(A_long time_type) { return EntryName(controls::kTimeType, time_type); }

void RefuseUndeclaredControls(const std::vector<std::string>& undeclared) {
  if (undeclared.empty()) return;
  const controls::SceneControl* row = SceneControlNamed(undeclared.front());
  Fail(std::string("effect.") + (row != nullptr ? row->key : undeclared.front()),
       "the module declares no control named \"" + undeclared.front() + "\"");
}

Scene ParseScene(const std::string& json_text, const std::string& base_dir, const MemoryBudget& budget) {
  if (const std::string refused = JsonBoundsProblem(json_text, kMaxSceneDepth, budget); !refused.empty()) Fail("scene", refused);
  KeyWatch watch;
  Json root;
  try {
    root = Json::parse(json_text, [&watch](int, Json::parse_event_t event, Json& parsed) {
      watch.Saw(event, parsed);
      return true;
    });
  } catch (const Json::parse_error& e) {
    throw SceneError(std::string("scene: not valid JSON: ") + e.what());
  } catch (const Json::exception& e) {
    // A number beyond a double's range, say: the parser stops at the value.
    throw SceneError(watch.Field() + ": " + e.what());
  }
  if (!root.is_object()) Fail("scene", "expected a JSON object");
  OnlyKeys(root, "", {"composition", "layers", "effect", "render"});
  Scene scene;

  // Composition.
  const Json& comp = Object(root, "composition", "composition");
  OnlyKeys(comp, "composition", {"width", "height", "frame_rate", "time_scale"});
  CompositionModel& c = scene.composition;
  if (!comp.contains("width")) Fail("composition.width", "missing (expected a positive integer)");
  if (!comp.contains("height")) Fail("composition.height", "missing (expected a positive integer)");
  c.width = PositiveSide(comp.at("width"), "composition.width");
  c.height = PositiveSide(comp.at("height"), "composition.height");
  if (comp.contains("frame_rate")) c.frame_rate = PositiveRate(comp.at("frame_rate"), "composition.frame_rate");
  if (comp.contains("time_scale")) {
    c.time_scale = static_cast<A_u_long>(
        Integer(comp.at("time_scale"), "composition.time_scale", 1, 0xFFFFFFFFll, "expected a positive 32-bit integer"));
  } else {
    // Whole rates tick once a frame; NTSC-style rates in thousandths of 1001.
    const double whole = std::round(c.frame_rate);
    c.time_scale = static_cast<A_u_long>(std::fabs(c.frame_rate - whole) < 1e-9 ? whole
                                                                                : std::round(c.frame_rate * 1001.0));
    // A rate so low that no time scale is derived from it would make every
    // frame fail; say so now, and how to give one.
    if (c.time_scale == 0)
      Fail("composition.frame_rate", "too low to derive a time scale from; give composition.time_scale");
  }

  // Layers.
  if (!root.contains("layers")) Fail("layers", "missing (expected a non-empty array of layers)");
  const Json& layers = root.at("layers");
  if (!layers.is_array() || layers.empty()) Fail("layers", "expected a non-empty array of layers");
  std::set<A_long> ids;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const std::string f = "layers[" + std::to_string(i) + "]";
    const Json& l = layers[i];
    if (!l.is_object()) Fail(f, "expected an object");
    OnlyKeys(l, f, {"id", "name", "width", "height", "start", "in_point", "duration", "frame_rate", "source"});
    LayerModel layer;
    if (!l.contains("id")) Fail(f + ".id", "missing (expected a positive integer)");
    layer.id = static_cast<A_long>(Integer(l.at("id"), f + ".id", 1, kLongMax, "expected a positive integer"));
    if (!ids.insert(layer.id).second) Fail(f + ".id", "layer id " + std::to_string(layer.id) + " used twice");
    layer.name = "Layer " + std::to_string(layer.id);
    if (l.contains("name")) {
      if (!l.at("name").is_string()) Fail(f + ".name", "expected a string");
      layer.name = l.at("name").get<std::string>();
    }
    if (!l.contains("width")) Fail(f + ".width", "missing (expected a positive integer)");
    if (!l.contains("height")) Fail(f + ".height", "missing (expected a positive integer)");
    layer.width = PositiveSide(l.at("width"), f + ".width");
    layer.height = PositiveSide(l.at("height"), f + ".height");
    layer.start = l.contains("start") ? Time(l.at("start"), f + ".start", c.time_scale) : A_Time{0, c.time_scale};
    layer.in_point = l.contains("in_point") ? Time(l.at("in_point"), f + ".in_point", c.time_scale) : layer.start;
    if (!l.contains("duration")) Fail(f + ".duration", "missing (expected a time)");
    layer.duration = Time(l.at("duration"), f + ".duration", c.time_scale);
    if (layer.duration.value <= 0) Fail(f + ".duration", "expected a positive time");
    RequireHostTicks(Seconds(layer.in_point) + Seconds(layer.duration), c.time_scale, f + ".duration");
    layer.frame_rate = l.contains("frame_rate") ? PositiveRate(l.at("frame_rate"), f + ".frame_rate") : c.frame_rate;
    if (l.contains("source")) layer.source = Source(l.at("source"), f + ".source", layer, base_dir, budget);
    c.layers.push_back(std::move(layer));
  }

  // Effect.
  const Json& effect = Object(root, "effect", "effect");
  std::vector<std::string> effect_keys = {"on_layer"};
  for (const controls::SceneControl& row : controls::kSceneControls) effect_keys.push_back(row.key);
  OnlyKeys(effect, "effect", effect_keys);
  EffectSettings& e = scene.effect;
  if (!effect.contains("on_layer")) Fail("effect.on_layer", "missing (expected the id of the layer carrying the effect)");
  e.on_layer = static_cast<A_long>(Integer(effect.at("on_layer"), "effect.on_layer", 1, kLongMax, "expected a layer id"));
  if (!ids.count(e.on_layer)) Fail("effect.on_layer", "no layer has id " + std::to_string(e.on_layer));
  for (const controls::SceneControl& row : controls::kSceneControls) {
    if (!effect.contains(row.key)) continue;
    e.controls[row.control] =
        AnimatedControl(effect.at(row.key), std::string("effect.") + row.key, row, ids, c.time_scale);
  }

  // Render.
  const Json& render = Object(root, "render", "render");
  OnlyKeys(render, "render", {"times", "depth", "downsample"});
  RenderSettings& r = scene.render;
  double effect_start = 0;
  for (const LayerModel& layer : c.layers)
    if (layer.id == e.on_layer) effect_start = Seconds(layer.start);
  if (!render.contains("times")) Fail("render.times", kTimesExpected);
  r.times = RenderTimes(render.at("times"), c);
  for (std::size_t i = 0; i < r.times.size(); ++i) {
    // The module is sent the time on the effect layer, not in the composition.
    RequireHostTicks(Seconds(r.times[i]) - effect_start, c.time_scale, "render.times[" + std::to_string(i) + "]");
  }
  if (render.contains("depth")) {
    const std::int64_t d = Integer(render.at("depth"), "render.depth", 0, 64, "expected 8, 16 or 32");
    if (d != 8 && d != 16 && d != 32) Fail("render.depth", "expected 8, 16 or 32, got " + std::to_string(d));
    r.depth = static_cast<BitDepth>(d);
  }
  if (render.contains("downsample")) {
    const Json& ds = render.at("downsample");
    if (!ds.is_array() || ds.size() != 2) Fail("render.downsample", "expected [[num, den], [num, den]]");
    PF_RationalScale* axes[2] = {&r.downsample_x, &r.downsample_y};
    for (std::size_t a = 0; a < 2; ++a) {
      const std::string f = "render.downsample[" + std::to_string(a) + "]";
      if (!ds[a].is_array() || ds[a].size() != 2) Fail(f, "expected [num, den]");
      axes[a]->num = static_cast<A_long>(Integer(ds[a][0], f + "[0]", 1, kLongMax, "expected a positive integer"));
      axes[a]->den = static_cast<A_u_long>(Integer(ds[a][1], f + "[1]", 1, kLongMax, "expected a positive integer"));
      if (axes[a]->num > static_cast<A_long>(axes[a]->den))
        Fail(f, "expected a factor of at most 1 (the host renders at full size or smaller)");
    }
    // Every layer must keep at least one pixel on each side at this resolution.
    for (const LayerModel& layer : c.layers) {
      if (Downsampled(layer.width, r.downsample_x) < 1 || Downsampled(layer.height, r.downsample_y) < 1)
        Fail("render.downsample", "leaves layer " + std::to_string(layer.id) + " (" + std::to_string(layer.width) +
                                      " x " + std::to_string(layer.height) + ") without a pixel on a side");
    }
  }
  return scene;
}

Scene LoadSceneFile(const std::string& path, const MemoryBudget& budget) {
  std::string text;
  try {
    text = ReadRegularFile(path, kMaxSceneFileBytes, "scene file");
  } catch (const FileAccessError& e) {
    throw SceneError(e.what());
  }
  const std::size_t slash = path.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  try {
    return ParseScene(text, dir, budget);
  } catch (const SceneError& e) {
    throw SceneError(path + ": " + e.what());
  }
}

}  // namespace hostsim
