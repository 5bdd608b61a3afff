#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "amf/api/interfaces.h"

namespace corvantis {

namespace fakes {

// Records the runtime's trace as "scope|message" lines, from whichever of its threads writes,
// while registered in `trace` as `id`: from construction to destruction.
class TraceRecorder final : public amf::AMFTraceWriter {
 public:
  TraceRecorder(amf::AMFTrace* trace, std::wstring id) : trace_(trace), id_(std::move(id)) {
    trace_->RegisterWriter(id_.c_str(), this, true);
  }
  ~TraceRecorder() override { trace_->UnregisterWriter(id_.c_str()); }

  void Write(const wchar_t* scope, const wchar_t* message) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::wstring(scope) + L"|" + message);
  }
  void Flush() override {}

  std::vector<std::wstring> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Whether `part` is in the lines joined end to end.
  bool Saw(const std::wstring& part) const {
    std::wstring text;
    for (const std::wstring& line : Lines()) text += line;
    return text.find(part) != std::wstring::npos;
  }

 private:
  amf::AMFTrace* const trace_;
  const std::wstring id_;
  mutable std::mutex mutex_;
  std::vector<std::wstring> lines_;
};

}  // namespace fakes

}  // namespace corvantis
