// What the host answers about the effect's parameters: each declared
// definition with the value the scene's settings give its name, or the
// default it was declared with. The host knows nothing else about the
// effect's controls.

#include <cmath>
#include <cstring>

#include "Host.h"

namespace hostsim {

namespace {

std::string NameOf(const PF_ParamDef& def) { return std::string(def.name, strnlen(def.name, sizeof(def.name))); }

}  // namespace

std::string Host::DeclaredName(PF_ParamIndex index) const {
  if (index < 1 || static_cast<std::size_t>(index) > declared_params_.size()) return std::string();
  return NameOf(declared_params_[index - 1]);
}

PF_ParamIndex Host::DeclaredIndex(const std::string& name) const {
  for (std::size_t i = 0; i < declared_params_.size(); ++i) {
    if (NameOf(declared_params_[i]) == name) return static_cast<PF_ParamIndex>(i + 1);
  }
  return 0;
}

std::vector<std::string> Host::UndeclaredControls() const {
  std::vector<std::string> undeclared;
  for (const auto& control : settings_.controls) {
    if (DeclaredIndex(control.first) == 0) undeclared.push_back(control.first);
  }
  return undeclared;
}

std::optional<double> Host::ControlValue(const std::string& name) const {
  const PF_ParamIndex index = DeclaredIndex(name);
  if (index == 0) return std::nullopt;
  const PF_ParamDef* declared = &declared_params_[index - 1];
  if (auto set = settings_.controls.find(name); set != settings_.controls.end()) return set->second;
  switch (declared->param_type) {
    case PF_Param_POPUP: return declared->u.pd.value;
    case PF_Param_FIX_SLIDER: return declared->u.fd.value / 65536.0;
    case PF_Param_FLOAT_SLIDER: return declared->u.fs_d.value;
    default: return 0.0;  // a layer control chooses no layer by default
  }
}

bool Host::WriteParamValue(PF_ParamIndex index, PF_ParamDef* out) const {
  PF_ParamDef& def = *out;
  if (index == 0) {
    // The effect's input: a layer whose pixels come with the render pass.
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_LAYER;
    return true;
  }
  if (index < 1 || static_cast<std::size_t>(index) > declared_params_.size()) return false;
  def = declared_params_[index - 1];
  auto set = settings_.controls.find(NameOf(def));
  const bool has_value = set != settings_.controls.end();
  switch (def.param_type) {
    case PF_Param_POPUP:
      if (has_value) def.u.pd.value = static_cast<A_long>(set->second);
      break;
    case PF_Param_FIX_SLIDER:
      // The host holds a fixed-point slider's value as 16.16.
      if (has_value) def.u.fd.value = static_cast<PF_Fixed>(std::lround(set->second * 65536.0));
      break;
    case PF_Param_FLOAT_SLIDER:
      if (has_value) def.u.fs_d.value = set->second;
      break;
    case PF_Param_LAYER:
      // A layer's pixels are lent by the checkout itself.
      std::memset(&def.u.ld, 0, sizeof(def.u.ld));
      break;
    default:
      break;
  }
  return true;
}

PF_ParamDef Host::ParamValue(PF_ParamIndex index) const {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof(def));
  if (!WriteParamValue(index, &def)) def.param_type = PF_Param_NO_DATA;
  return def;
}

}  // namespace hostsim
