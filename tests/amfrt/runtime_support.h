#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "amf/api/encoder_properties.h"
#include "amf/api/interfaces.h"
#include "platform/com_ptr.h"
#include "platform/d3d11.h"
#include "tests/amfrt/program_properties.h"

namespace corvantis {

// The runtime library, loaded once per test process by absolute path as the program loads it.
struct RuntimeLibrary {
  AMFInit_Fn Init = nullptr;
  AMFQueryVersion_Fn QueryVersion = nullptr;
  amf::AMFFactory* Factory = nullptr;
  amf::AMFTrace* Trace = nullptr;
};
const RuntimeLibrary& Runtime();

enum class TestCodec { Avc, Hevc };

struct CodecNames {
  const wchar_t* ComponentId;
  const wchar_t* InsertAud;
  std::vector<const wchar_t*> InsertHeaders;
  const wchar_t* OutputDataType;
  const char* Extension;
  const char* Demuxer;
};
const CodecNames& NamesOf(TestCodec codec);

struct EncoderConfig {
  TestCodec Codec = TestCodec::Avc;
  int Width = 320;
  int Height = 180;
  bool LowLatency = true;
  amf::amf_int64 QualityPreset = -1;  // -1: the speed preset the program uses
  amf::amf_int64 BPictures = 0;
  std::string RenderNode{};  // the device's node: empty for the software adapter's device
  std::uint32_t FrameRate = 60;
};

// A CPU device (with config.renderNode), a context on it and an encoder configured as the program
// configures it (config.FrameRate, target 500000, peak 625000), initialised unless asked not to be.
class EncoderRig {
 public:
  explicit EncoderRig(const EncoderConfig& config, bool init = true);
  ~EncoderRig();
  com_ptr<ID3D11Texture2D> NewTexture() const;
  amf::AMFSurfacePtr NewSurface(ID3D11Texture2D* texture) const;

  const EncoderConfig Config;
  com_ptr<ID3D11Device> Device;
  com_ptr<ID3D11DeviceContext> DeviceContext;
  amf::AMFContextPtr Context;
  amf::AMFComponentPtr Encoder;
  AMF_RESULT InitResult = AMF_FAIL;
};

void FillGrey(ID3D11Texture2D* texture, std::uint8_t level);
std::uint8_t GreyOf(std::uint32_t k);
inline amf::amf_pts PtsOf(std::uint64_t k) { return static_cast<amf::amf_pts>(k * 10000000 / 60); }

// Stamps a surface as the program does for frame k at 60 fps.
void StampFrame(amf::AMFSurface* surface, TestCodec codec, std::uint32_t k, bool aud = true);

struct Output {
  std::vector<std::uint8_t> Bytes;
  amf::amf_int64 DataType = -1;
  amf::amf_pts Pts = -1;
  amf::amf_pts Duration = -1;
};

// Takes one output as the program does: QueryInterface to AMFBuffer, copy, read the data type.
Output TakeOutput(amf::AMFData* data, TestCodec codec);

// Polls QueryOutput until AMF_EOF; a test failure after `limit`.
std::vector<Output> CollectUntilEof(amf::AMFComponent* encoder, TestCodec codec,
                                    std::chrono::milliseconds limit = std::chrono::seconds(20));

// The program's pump over `frames` frames and `slots` textures, a slot reused only once its
// frame's output arrived; frame k is filled with GreyOf(k) right before it is submitted. Drains.
std::vector<Output> EncodeGreyFrames(EncoderRig& rig, std::uint32_t frames,
                                     std::uint32_t slots = 4);
// The same pump with frame k painted by `paint` into a frame texture and copied into its slot right
// before it is submitted; the slots' VA surfaces (VA_INVALID_SURFACE for CPU memory) in
// *slotSurfaces.
std::vector<Output> EncodeFrames(EncoderRig& rig, std::uint32_t frames, std::uint32_t slots,
                                 const std::function<void(ID3D11Texture2D*, std::uint32_t)>& paint,
                                 std::vector<VASurfaceID>* slotSurfaces = nullptr);

// The outputs written one after another into a temporary file named for this process; removed
// when the test passed, kept for a look when it failed.
class StreamFile {
 public:
  StreamFile(const std::vector<Output>& outputs, const std::string& name);
  ~StreamFile();
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Standard output of a command; a test failure when it exits non-zero.
std::string RunCommand(const std::string& command);
// ffprobe's values of `entries` ("-show_entries ...") for the stream file, one a line.
std::vector<std::string> Probe(const std::string& path, TestCodec codec,
                               const std::string& entries);
// The stream file decoded by ffmpeg into yuv420p pictures, one after another.
std::string DecodedYuv420(const std::string& path, TestCodec codec);

// What the process writes to file descriptor 2 while the object lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  // Ends the capture (once) and gives what was written.
  std::string Stop();

 private:
  std::FILE* file_;
  int saved_ = -1;
};

// The NAL units of an Annex-B buffer without start codes, and their types.
std::vector<std::vector<std::uint8_t>> NalUnits(const std::vector<std::uint8_t>& bytes);
int NalType(const std::vector<std::uint8_t>& nal, TestCodec codec);
std::vector<int> NalTypes(const std::vector<std::uint8_t>& bytes, TestCodec codec);

}  // namespace corvantis
