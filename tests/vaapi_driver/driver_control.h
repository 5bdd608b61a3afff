#pragma once
// What a test chooses and reads of the tests' VA-API driver, reached through
// corvantis_test_driver(): the personality, what the driver received, the faults it is to give
// and the objects alive. Hold `mutex` while touching any of it.
#include <va/va.h>
#include <va/va_vpp.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace corvantis::vadriver {

// One buffer as vaRenderPicture handed it over.
struct Buffer {
  VABufferType type;
  std::vector<std::uint8_t> bytes;

  // The bytes as a VA structure; zeros past what was handed over.
  template <class T>
  T As() const {
    T value{};
    std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
    return value;
  }
};

// One picture the encoder was given: vaBeginPicture to vaEndPicture on an encode context.
struct Picture {
  VAProfile profile;
  VAEntrypoint entrypoint;
  int contextWidth, contextHeight;
  int width, height;            // of the input surface
  std::vector<Buffer> buffers;  // in the order rendered
  std::vector<std::uint8_t>
      nv12;  // the input surface, width x height luma then UV rows; empty unless recorded
  std::vector<std::uint8_t> coded;  // what the coded buffer was given
};

// One picture through the video processor.
struct Processed {
  int width, height;
  std::uint32_t inputFourcc;
  std::vector<std::uint8_t> input;  // 4 bytes a pixel, rows of 4 x width; empty unless recorded
  VAProcPipelineParameterBuffer pipeline;
};

struct Config {
  VAProfile profile;
  VAEntrypoint entrypoint;
  std::vector<VAConfigAttrib> attributes;  // as vaCreateConfig received them
};

struct Record {
  std::vector<Config> configs;
  std::vector<Picture> pictures;
  std::vector<Processed> processed;
  std::vector<std::string> unimplemented;  // entries called that the driver does not have
};

// The `call`-th call (from 1) of `entry` ("vaSyncSurface") returns `status`.
struct EntryFault {
  std::string entry;
  int call;
  VAStatus status = VA_STATUS_ERROR_OPERATION_FAILED;
};

enum class CodedBufferFault {
  None,
  Empty,       // the segment holds no bytes
  ClaimsMore,  // the segment's size is larger than the buffer
};

struct FaultPlan {
  std::vector<EntryFault> entries;
  CodedBufferFault codedBuffer = CodedBufferFault::None;
  int codedBufferFromPicture = 0;  // the first encoded picture (from 0) whose buffer has the fault
};

struct LiveObjects {
  int configs = 0, contexts = 0, surfaces = 0, buffers = 0, images = 0;
  bool operator==(const LiveObjects&) const = default;
};

struct Control {
  std::mutex mutex;
  std::string personality = "radeonsi";  // a name FindPersonality knows (personalities.h)
  bool recordPixels = true;
  // When false the driver returns at once: no conversion, nothing recorded, a fixed coded picture.
  bool work = true;
  Record record;
  FaultPlan faults;
  LiveObjects live;  // counted across displays: what vaTerminate finds alive stays counted
  std::map<std::string, int, std::less<>> calls;  // by entry name

  void Reset() {
    personality = "radeonsi";
    recordPixels = work = true;
    record = {};
    faults = {};
    live = {};
    calls.clear();
  }
};

}  // namespace corvantis::vadriver

extern "C" corvantis::vadriver::Control* corvantis_test_driver();
