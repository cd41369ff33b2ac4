// One call's entry in the trace, under construction. With tracing off it
// holds nothing and every field assignment costs a branch, so a host that
// renders without a trace spends no time building JSON it would throw away.
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
  // A pointer rather than an optional value: with tracing off, making and
  // dropping the entry is a store and a test.
  std::unique_ptr<nlohmann::ordered_json> json_;
};

// The entry of a call made with tracing off. It has TraceEntry's interface
// and records nothing, so a host function written once against either kind
// compiles, for untraced calls, to the call's own work alone: no field
// assignment, test or JSON code is left in it (see HostCall.h).
class UntracedEntry {
 public:
  struct Field {
    template <typename T>
    Field& operator=(T&&) {
      return *this;
    }
  };

  explicit UntracedEntry(const char* call) : call_(call) {}

  Field operator[](const char*) { return Field(); }
  static constexpr bool tracing() { return false; }
  const char* call() const { return call_; }

 private:
  const char* call_;
};

}  // namespace hostsim
