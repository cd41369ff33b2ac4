// One call's entry in the trace, under construction. With tracing off it
// holds nothing and a field assignment does nothing.
#pragma once

#include <memory>
#include <utility>

#include <nlohmann/json.hpp>

namespace hostsim {

class TraceEntry {
 public:
  // A field of the entry; assigning to it does nothing when tracing is off.
  class Field {
   public:
    Field(nlohmann::ordered_json* json, const char* key) : json_(json), key_(key) {}
    template <typename T>
    Field& operator=(T&& value) {
      if (json_ != nullptr) (*json_)[key_] = std::forward<T>(value);
      return *this;
    }

   private:
    nlohmann::ordered_json* json_;
    const char* key_;
  };

  // The entry of a call to the host function `call`; the name is kept even
  // with tracing off, for the misuse the host reports.
  TraceEntry(bool tracing, const char* call) : call_(call) {
    if (tracing) json_ = std::make_unique<nlohmann::ordered_json>(nlohmann::ordered_json{{"call", call}});
  }

  Field operator[](const char* key) { return Field(json_.get(), key); }
  bool tracing() const { return json_ != nullptr; }
  const char* call() const { return call_; }
  // The finished entry, or null when tracing is off.
  std::unique_ptr<nlohmann::ordered_json> Take() { return std::move(json_); }

 private:
  const char* call_;
  std::unique_ptr<nlohmann::ordered_json> json_;
};

}  // namespace hostsim
