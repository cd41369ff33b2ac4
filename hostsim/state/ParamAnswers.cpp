// What the host answers about the effect's parameters: each declared
// definition with the value the scene gives its name at the time asked, or
// the default it was declared with. The host knows nothing else about the
// effect's controls.

#include <cmath>
#include <cstring>

#include "HostState.h"

namespace hostsim {

namespace {

std::string NameOf(const PF_ParamDef& def) { return std::string(def.name, strnlen(def.name, sizeof(def.name))); }

bool IsSlider(const PF_ParamDef& def) {
  return def.param_type == PF_Param_FIX_SLIDER || def.param_type == PF_Param_FLOAT_SLIDER;
}

}  // namespace

std::string HostState::DeclaredName(PF_ParamIndex index) const {
  const std::vector<PF_ParamDef>& declared = effect.declared_params;
  if (index < 1 || static_cast<std::size_t>(index) > declared.size()) return std::string();
  return NameOf(declared[index - 1]);
}

PF_ParamIndex HostState::DeclaredIndex(const std::string& name) const {
  const std::vector<PF_ParamDef>& declared = effect.declared_params;
  for (std::size_t i = 0; i < declared.size(); ++i) {
    if (NameOf(declared[i]) == name) return static_cast<PF_ParamIndex>(i + 1);
  }
  return 0;
}

std::vector<std::string> HostState::UndeclaredControls() const {
  std::vector<std::string> undeclared;
  for (const auto& control : scene.settings.controls) {
    if (DeclaredIndex(control.first) == 0) undeclared.push_back(control.first);
  }
  return undeclared;
}

std::optional<double> HostState::ControlValueAt(const std::string& name, double comp_seconds) const {
  const PF_ParamIndex index = DeclaredIndex(name);
  if (index == 0) return std::nullopt;
  const PF_ParamDef& declared = effect.declared_params[index - 1];
  if (auto set = scene.settings.controls.find(name); set != scene.settings.controls.end()) {
    return set->second.At(comp_seconds, IsSlider(declared));
  }
  switch (declared.param_type) {
    case PF_Param_POPUP: return declared.u.pd.value;
    case PF_Param_FIX_SLIDER: return declared.u.fd.value / 65536.0;
    case PF_Param_FLOAT_SLIDER: return declared.u.fs_d.value;
    default: return 0.0;  // a layer control chooses no layer by default
  }
}

bool HostState::WriteParamValue(PF_ParamIndex index, double comp_seconds, PF_ParamDef* out) const {
  PF_ParamDef& def = *out;
  if (index == 0) {
    // The effect's input: a layer whose pixels come with the render pass.
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_LAYER;
    return true;
  }
  if (index < 1 || static_cast<std::size_t>(index) > effect.declared_params.size()) return false;
  def = effect.declared_params[index - 1];
  const double value = ControlValueAt(NameOf(def), comp_seconds).value_or(0.0);
  switch (def.param_type) {
    case PF_Param_POPUP: def.u.pd.value = static_cast<A_long>(value); break;
    // The host holds a fixed-point slider's value as 16.16.
    case PF_Param_FIX_SLIDER: def.u.fd.value = static_cast<PF_Fixed>(std::lround(value * 65536.0)); break;
    case PF_Param_FLOAT_SLIDER: def.u.fs_d.value = value; break;
    case PF_Param_LAYER:
      // A layer's pixels are lent by the checkout itself.
      std::memset(&def.u.ld, 0, sizeof(def.u.ld));
      break;
    default: break;
  }
  return true;
}

PF_ParamDef HostState::ParamValue(PF_ParamIndex index, double comp_seconds) const {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof(def));
  if (!WriteParamValue(index, comp_seconds, &def)) def.param_type = PF_Param_NO_DATA;
  return def;
}

}  // namespace hostsim
