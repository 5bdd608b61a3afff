#pragma once
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "amf/api/interfaces.h"

namespace corvantis::amfrt {

// The writer id of the built-in writer that hands each line to an attached debugger.
inline constexpr wchar_t kDebugOutputWriter[] = L"DebugOutput";

// The process-wide AMFTrace. A line reaches a writer when its level is at most the global level
// and at most that writer's level, and the writer is enabled. Writers are called under a lock,
// one line at a time, and must not trace themselves.
class Trace final : public amf::AMFTrace {
 public:
  static Trace& Instance();
  Trace();
  ~Trace() override = default;

  // Formats follow the C library's wide printf: "%ls" takes a wide string, "%s" a narrow one.
  void TraceW(const wchar_t* src_path, amf::amf_int32 line, amf::amf_int32 level,
              const wchar_t* scope, amf::amf_int32 countArgs, const wchar_t* format, ...) override;
  amf::amf_int32 SetGlobalLevel(amf::amf_int32 level) override;
  amf::amf_int32 GetGlobalLevel() override;
  // Returns the previous state; false for an unknown writer.
  bool EnableWriter(const wchar_t* writerID, bool enable) override;
  bool WriterEnabled(const wchar_t* writerID) override;
  // Returns the previous level; -1 for an unknown writer.
  amf::amf_int32 SetWriterLevel(const wchar_t* writerID, amf::amf_int32 level) override;
  amf::amf_int32 GetWriterLevel(const wchar_t* writerID) override;
  // A writer registered under an existing id replaces it. The caller keeps ownership.
  void RegisterWriter(const wchar_t* writerID, amf::AMFTraceWriter* pWriter, bool enable) override;
  void UnregisterWriter(const wchar_t* writerID) override;

  // True when a line of this level would reach some writer; lets callers skip formatting.
  bool Wants(amf::amf_int32 level);
  void WriteV(amf::amf_int32 level, const wchar_t* scope, const wchar_t* format, std::va_list args);

 private:
  struct Writer {
    std::wstring Id;
    amf::AMFTraceWriter* Writer;
    bool Enabled;
    amf::amf_int32 Level;
  };
  Writer* Find(const wchar_t* id);

  std::mutex mutex_;
  amf::amf_int32 globalLevel_ = amf::AMF_TRACE_WARNING;
  std::vector<Writer> writers_;
};

// Traces one line of the runtime's own through the process-wide trace.
void TraceLine(amf::amf_int32 level, const wchar_t* scope, const wchar_t* format, ...);

// The AMF name of a result code ("AMF_INPUT_FULL"), for trace lines.
const wchar_t* ResultName(AMF_RESULT result);

}  // namespace corvantis::amfrt
