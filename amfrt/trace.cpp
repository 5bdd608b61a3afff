#include "amfrt/trace.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cwchar>

#include "platform/debug_output.h"

namespace corvantis::amfrt {
namespace {

class DebugOutputWriter final : public amf::AMFTraceWriter {
 public:
  void Write(const wchar_t*, const wchar_t* message) override { OutputDebugStringW(message); }
  void Flush() override {}
};

DebugOutputWriter& BuiltInDebugOutput() {
  static DebugOutputWriter writer;
  return writer;
}

const wchar_t* LevelName(amf::amf_int32 level) {
  switch (level) {
    case amf::AMF_TRACE_ERROR: return L"Error";
    case amf::AMF_TRACE_WARNING: return L"Warning";
    case amf::AMF_TRACE_INFO: return L"Info";
    case amf::AMF_TRACE_DEBUG: return L"Debug";
    case amf::AMF_TRACE_TRACE: return L"Trace";
    default: return L"Test";
  }
}

bool Passes(amf::amf_int32 level, amf::amf_int32 limit) {
  return limit != amf::AMF_TRACE_NOLOG && level <= limit;
}

}  // namespace

Trace& Trace::Instance() {
  static Trace trace;
  return trace;
}

Trace::Trace() {
  writers_.push_back(Writer{kDebugOutputWriter, &BuiltInDebugOutput(), true, amf::AMF_TRACE_TRACE});
}

Trace::Writer* Trace::Find(const wchar_t* id) {
  if (id == nullptr) return nullptr;
  for (Writer& writer : writers_)
    if (writer.Id == id) return &writer;
  return nullptr;
}

void Trace::TraceW(const wchar_t*, amf::amf_int32, amf::amf_int32 level, const wchar_t* scope,
                   amf::amf_int32, const wchar_t* format, ...) {
  if (format == nullptr || !Wants(level)) return;
  std::va_list args;
  va_start(args, format);
  WriteV(level, scope, format, args);
  va_end(args);
}

amf::amf_int32 Trace::SetGlobalLevel(amf::amf_int32 level) {
  std::lock_guard lock(mutex_);
  const amf::amf_int32 previous = globalLevel_;
  globalLevel_ = level;
  return previous;
}

amf::amf_int32 Trace::GetGlobalLevel() {
  std::lock_guard lock(mutex_);
  return globalLevel_;
}

bool Trace::EnableWriter(const wchar_t* writerID, bool enable) {
  std::lock_guard lock(mutex_);
  Writer* writer = Find(writerID);
  if (writer == nullptr) return false;
  const bool previous = writer->Enabled;
  writer->Enabled = enable;
  return previous;
}

bool Trace::WriterEnabled(const wchar_t* writerID) {
  std::lock_guard lock(mutex_);
  const Writer* writer = Find(writerID);
  return writer != nullptr && writer->Enabled;
}

amf::amf_int32 Trace::SetWriterLevel(const wchar_t* writerID, amf::amf_int32 level) {
  std::lock_guard lock(mutex_);
  Writer* writer = Find(writerID);
  if (writer == nullptr) return -1;
  const amf::amf_int32 previous = writer->Level;
  writer->Level = level;
  return previous;
}

amf::amf_int32 Trace::GetWriterLevel(const wchar_t* writerID) {
  std::lock_guard lock(mutex_);
  const Writer* writer = Find(writerID);
  return writer != nullptr ? writer->Level : -1;
}

void Trace::RegisterWriter(const wchar_t* writerID, amf::AMFTraceWriter* pWriter, bool enable) {
  if (writerID == nullptr || pWriter == nullptr) return;
  std::lock_guard lock(mutex_);
  if (Writer* existing = Find(writerID)) {
    existing->Writer = pWriter;
    existing->Enabled = enable;
    return;
  }
  writers_.push_back(Writer{writerID, pWriter, enable, amf::AMF_TRACE_TRACE});
}

void Trace::UnregisterWriter(const wchar_t* writerID) {
  std::lock_guard lock(mutex_);
  std::erase_if(writers_, [&](const Writer& w) { return writerID != nullptr && w.Id == writerID; });
}

bool Trace::Wants(amf::amf_int32 level) {
  std::lock_guard lock(mutex_);
  if (!Passes(level, globalLevel_)) return false;
  for (const Writer& writer : writers_)
    if (writer.Enabled && Passes(level, writer.Level)) return true;
  return false;
}

void Trace::WriteV(amf::amf_int32 level, const wchar_t* scope, const wchar_t* format,
                   std::va_list args) {
  wchar_t message[2048];
  if (std::vswprintf(message, std::size(message), format, args) < 0)
    message[std::size(message) - 1] = L'\0';  // cut, not lost

  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  const wchar_t* scopeText = scope != nullptr ? scope : L"";
  wchar_t line[2304];
  std::swprintf(line, std::size(line), L"%04d-%02d-%02d %02d:%02d:%02d.%03d %7ld [%ls] %7ls: %ls\n",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis), static_cast<long>(syscall(SYS_gettid)),
                scopeText, LevelName(level), message);

  std::lock_guard lock(mutex_);
  if (!Passes(level, globalLevel_)) return;
  for (const Writer& writer : writers_)
    if (writer.Enabled && Passes(level, writer.Level)) writer.Writer->Write(scopeText, line);
}

void TraceLine(amf::amf_int32 level, const wchar_t* scope, const wchar_t* format, ...) {
  Trace& trace = Trace::Instance();
  if (!trace.Wants(level)) return;
  std::va_list args;
  va_start(args, format);
  trace.WriteV(level, scope, format, args);
  va_end(args);
}

const wchar_t* ResultName(AMF_RESULT result) {
  switch (result) {
    case AMF_OK: return L"AMF_OK";
    case AMF_FAIL: return L"AMF_FAIL";
    case AMF_INVALID_ARG: return L"AMF_INVALID_ARG";
    case AMF_OUT_OF_RANGE: return L"AMF_OUT_OF_RANGE";
    case AMF_OUT_OF_MEMORY: return L"AMF_OUT_OF_MEMORY";
    case AMF_INVALID_POINTER: return L"AMF_INVALID_POINTER";
    case AMF_NOT_SUPPORTED: return L"AMF_NOT_SUPPORTED";
    case AMF_NOT_FOUND: return L"AMF_NOT_FOUND";
    case AMF_ALREADY_INITIALIZED: return L"AMF_ALREADY_INITIALIZED";
    case AMF_NOT_INITIALIZED: return L"AMF_NOT_INITIALIZED";
    case AMF_INVALID_FORMAT: return L"AMF_INVALID_FORMAT";
    case AMF_WRONG_STATE: return L"AMF_WRONG_STATE";
    case AMF_EOF: return L"AMF_EOF";
    case AMF_REPEAT: return L"AMF_REPEAT";
    case AMF_INPUT_FULL: return L"AMF_INPUT_FULL";
    case AMF_INVALID_DATA_TYPE: return L"AMF_INVALID_DATA_TYPE";
    case AMF_INVALID_RESOLUTION: return L"AMF_INVALID_RESOLUTION";
    case AMF_SURFACE_FORMAT_NOT_SUPPORTED: return L"AMF_SURFACE_FORMAT_NOT_SUPPORTED";
    case AMF_ENCODER_NOT_PRESENT: return L"AMF_ENCODER_NOT_PRESENT";
    case AMF_NO_DEVICE: return L"AMF_NO_DEVICE";
    default: return L"AMF result";
  }
}

}  // namespace corvantis::amfrt
