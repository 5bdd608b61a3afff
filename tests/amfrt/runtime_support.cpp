#include "tests/amfrt/runtime_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "amf/clip_scenario.h"
#include "amf/encoder_config.h"
#include "platform/graphics.h"
#include "platform/hresult_error.h"

namespace corvantis {

const RuntimeLibrary& Runtime() {
  static const RuntimeLibrary runtime = [] {
    RuntimeLibrary r;
    void* library =
        dlopen(AMFRT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);  // never closed, as in the program
    if (library == nullptr) {
      ADD_FAILURE() << "dlopen " << AMFRT_LIBRARY_PATH << ": " << dlerror();
      return r;
    }
    r.Init = reinterpret_cast<AMFInit_Fn>(dlsym(library, AMF_INIT_FUNCTION_NAME));
    r.QueryVersion =
        reinterpret_cast<AMFQueryVersion_Fn>(dlsym(library, AMF_QUERY_VERSION_FUNCTION_NAME));
    if (r.Init == nullptr || r.Init(amf::AMF_FULL_VERSION, &r.Factory) != AMF_OK)
      ADD_FAILURE() << "AMFInit";
    else if (r.Factory->GetTrace(&r.Trace) != AMF_OK)
      ADD_FAILURE() << "GetTrace";
    return r;
  }();
  return runtime;
}

const CodecNames& NamesOf(TestCodec codec) {
  static const CodecNames avc{AMFVideoEncoderVCE_AVC,
                              AMF_VIDEO_ENCODER_INSERT_AUD,
                              {AMF_VIDEO_ENCODER_INSERT_SPS, AMF_VIDEO_ENCODER_INSERT_PPS},
                              AMF_VIDEO_ENCODER_OUTPUT_DATA_TYPE,
                              ".h264",
                              "h264"};
  static const CodecNames hevc{AMFVideoEncoder_HEVC,
                               AMF_VIDEO_ENCODER_HEVC_INSERT_AUD,
                               {AMF_VIDEO_ENCODER_HEVC_INSERT_HEADER},
                               AMF_VIDEO_ENCODER_HEVC_OUTPUT_DATA_TYPE,
                               ".h265",
                               "hevc"};
  return codec == TestCodec::Avc ? avc : hevc;
}

namespace {

void ConfigureLikeProgram(amf::AMFComponent* c, const EncoderConfig& config) {
  for (const auto& [name, value] :
       ProgramProperties(config.Codec == TestCodec::Hevc, config.FrameRate, config.LowLatency,
                         config.QualityPreset, config.BPictures))
    EXPECT_EQ(c->SetProperty(name, value), AMF_OK) << "setting";
}

}  // namespace

EncoderRig::EncoderRig(const EncoderConfig& c, bool init) : Config(c) {
  amf::AMFFactory* factory = Runtime().Factory;
  if (CreateCpuDevice(Device.put(), DeviceContext.put(), c.RenderNode) < 0 || factory == nullptr ||
      factory->CreateContext(&Context) != AMF_OK ||
      Context->InitDX11(Device.get(), amf::AMF_DX11_0) != AMF_OK) {
    ADD_FAILURE() << "encoder set-up";
    return;
  }
  if (init && c.LowLatency && c.QualityPreset < 0 && c.BPictures == 0) {
    // The program's settings: through the program's own configuration, Init included.
    const ClipScenario clip{static_cast<std::uint32_t>(c.Width),
                            static_cast<std::uint32_t>(c.Height), c.FrameRate, 1, 1};
    try {
      if (c.Codec == TestCodec::Avc)
        ConfigureAvcEncoder(factory, Context.GetPtr(), Encoder, clip, 500000);
      else
        ConfigureHevcEncoder(factory, Context.GetPtr(), Encoder, clip, 500000);
      InitResult = AMF_OK;
    } catch (const hresult_error& error) {
      InitResult = static_cast<AMF_RESULT>(static_cast<std::uint32_t>(error.code()) & 0xFFFFu);
    }
    return;
  }
  // Other settings, or properties a test sets before Init, need the steps one by one.
  if (factory->CreateComponent(Context.GetPtr(), NamesOf(c.Codec).ComponentId, &Encoder) !=
      AMF_OK) {
    ADD_FAILURE() << "encoder set-up";
    return;
  }
  ConfigureLikeProgram(Encoder.GetPtr(), c);
  if (init) InitResult = Encoder->Init(amf::AMF_SURFACE_BGRA, c.Width, c.Height);
}

EncoderRig::~EncoderRig() {
  if (Encoder) Encoder->Terminate();
}

com_ptr<ID3D11Texture2D> EncoderRig::NewTexture() const {
  D3D11_TEXTURE2D_DESC desc;
  desc.Width = static_cast<std::uint32_t>(Config.Width);
  desc.Height = static_cast<std::uint32_t>(Config.Height);
  desc.MipLevels = desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  com_ptr<ID3D11Texture2D> texture;
  EXPECT_EQ(Device->CreateTexture2D(&desc, nullptr, texture.put()), S_OK);
  return texture;
}

amf::AMFSurfacePtr EncoderRig::NewSurface(ID3D11Texture2D* texture) const {
  amf::AMFSurfacePtr surface;
  EXPECT_EQ(Context->CreateSurfaceFromDX11Native(texture, &surface, nullptr), AMF_OK);
  return surface;
}

void FillGrey(ID3D11Texture2D* texture, std::uint8_t level) {
  D3D11_TEXTURE2D_DESC desc;
  texture->GetDesc(&desc);
  for (std::uint32_t y = 0; y < desc.Height; ++y) {
    std::uint8_t* row = texture->Pixels() + static_cast<std::size_t>(y) * texture->RowPitch();
    for (std::uint32_t x = 0; x < desc.Width; ++x) {
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = level;
      row[4 * x + 3] = 255;
    }
  }
}

std::uint8_t GreyOf(std::uint32_t k) { return static_cast<std::uint8_t>(40 + (k * 5) % 180); }

void StampFrame(amf::AMFSurface* surface, TestCodec codec, std::uint32_t k, bool aud) {
  const CodecNames& names = NamesOf(codec);
  EXPECT_EQ(surface->SetProperty(names.InsertAud, Int64Value(aud ? 1 : 0)), AMF_OK);
  for (const wchar_t* header : names.InsertHeaders)
    EXPECT_EQ(surface->SetProperty(header, Int64Value(k == 0 ? 1 : 0)), AMF_OK);
  surface->SetPts(PtsOf(k));
  surface->SetDuration(PtsOf(k + 1) - PtsOf(k));
}

Output TakeOutput(amf::AMFData* data, TestCodec codec) {
  Output output;
  amf::AMFBufferPtr buffer;
  EXPECT_EQ(data->QueryInterface(amf::AMFBuffer::IID(), reinterpret_cast<void**>(&buffer)), AMF_OK);
  if (!buffer) return output;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer->GetNative());
  output.Bytes.assign(bytes, bytes + buffer->GetSize());
  amf::AMFVariantStruct type;
  amf::AMFVariantInit(&type);
  EXPECT_EQ(buffer->GetProperty(NamesOf(codec).OutputDataType, &type), AMF_OK);
  EXPECT_EQ(type.type, amf::AMF_VARIANT_INT64);
  output.DataType = type.int64Value;
  output.Pts = buffer->GetPts();
  output.Duration = buffer->GetDuration();
  return output;
}

std::vector<Output> CollectUntilEof(amf::AMFComponent* encoder, TestCodec codec,
                                    std::chrono::milliseconds limit) {
  std::vector<Output> outputs;
  for (const auto deadline = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < deadline;) {
    amf::AMFDataPtr data;
    const AMF_RESULT r = encoder->QueryOutput(&data);
    if (r == AMF_EOF) return outputs;
    if (r == AMF_OK) {
      outputs.push_back(TakeOutput(data.GetPtr(), codec));
      continue;
    }
    EXPECT_EQ(r, AMF_REPEAT);
    if (r != AMF_REPEAT) return outputs;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "no AMF_EOF in time";
  return outputs;
}

std::vector<Output> EncodeGreyFrames(EncoderRig& rig, std::uint32_t frames, std::uint32_t slots) {
  return EncodeFrames(rig, frames, slots, [](ID3D11Texture2D* texture, std::uint32_t k) {
    FillGrey(texture, GreyOf(k));
  });
}

std::vector<Output> EncodeFrames(EncoderRig& rig, std::uint32_t frames, std::uint32_t slots,
                                 const std::function<void(ID3D11Texture2D*, std::uint32_t)>& paint,
                                 std::vector<VASurfaceID>* slotSurfaces) {
  // Drawn into a texture of its own, then copied into the slot, as the program does.
  D3D11_TEXTURE2D_DESC frameDesc;
  rig.NewTexture()->GetDesc(&frameDesc);
  frameDesc.BindFlags = D3D11_BIND_RENDER_TARGET;
  com_ptr<ID3D11Texture2D> frame;
  EXPECT_EQ(rig.Device->CreateTexture2D(&frameDesc, nullptr, frame.put()), S_OK);
  std::vector<com_ptr<ID3D11Texture2D>> textures;
  std::vector<amf::AMFSurfacePtr> surfaces;
  for (std::uint32_t i = 0; i < slots; ++i) {
    textures.push_back(rig.NewTexture());
    surfaces.push_back(rig.NewSurface(textures.back().get()));
    if (slotSurfaces != nullptr) slotSurfaces->push_back(textures.back()->VideoSurface());
  }
  std::vector<Output> outputs;
  std::uint32_t k = 0;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       k < frames && std::chrono::steady_clock::now() < deadline;) {
    if (k - outputs.size() < slots) {
      paint(frame.get(), k);
      rig.DeviceContext->CopyResource(textures[k % slots].get(), frame.get());
      StampFrame(surfaces[k % slots].GetPtr(), rig.Config.Codec, k);
      const AMF_RESULT r = rig.Encoder->SubmitInput(surfaces[k % slots].GetPtr());
      if (r == AMF_OK) {
        ++k;
        continue;
      }
      EXPECT_EQ(r, AMF_INPUT_FULL);
    }
    amf::AMFDataPtr data;
    if (rig.Encoder->QueryOutput(&data) == AMF_OK)
      outputs.push_back(TakeOutput(data.GetPtr(), rig.Config.Codec));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(rig.Encoder->Drain(), AMF_OK);
  for (Output& o : CollectUntilEof(rig.Encoder.GetPtr(), rig.Config.Codec))
    outputs.push_back(std::move(o));
  return outputs;
}

StreamFile::StreamFile(const std::vector<Output>& outputs, const std::string& name)
    : path_(::testing::TempDir() + "amfrt-" + std::to_string(getpid()) + "-" + name) {
  std::ofstream file(path_, std::ios::binary | std::ios::trunc);
  for (const Output& o : outputs)
    file.write(reinterpret_cast<const char*>(o.Bytes.data()),
               static_cast<std::streamsize>(o.Bytes.size()));
}

StreamFile::~StreamFile() {
  if (!::testing::Test::HasFailure()) std::remove(path_.c_str());
}

std::string RunCommand(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "popen " << command;
    return text;
  }
  char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return text;
}

std::vector<std::string> Probe(const std::string& path, TestCodec codec,
                               const std::string& entries) {
  std::istringstream text(RunCommand(std::string("ffprobe -v error -f ") + NamesOf(codec).Demuxer +
                                     " -count_frames -select_streams v:0 " + entries +
                                     " -of default=noprint_wrappers=1:nokey=1 '" + path + "'"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

std::string DecodedYuv420(const std::string& path, TestCodec codec) {
  return RunCommand(std::string("ffmpeg -v error -f ") + NamesOf(codec).Demuxer + " -i '" + path +
                    "' -f rawvideo -pix_fmt yuv420p -");
}

std::vector<std::vector<std::uint8_t>> NalUnits(const std::vector<std::uint8_t>& b) {
  std::vector<std::size_t> starts;  // first byte after each 00 00 01
  for (std::size_t i = 0; i + 2 < b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) starts.push_back(i + 3);
  std::vector<std::vector<std::uint8_t>> nals;
  for (std::size_t n = 0; n < starts.size(); ++n) {
    std::size_t end = n + 1 < starts.size() ? starts[n + 1] - 3 : b.size();
    while (end > starts[n] && b[end - 1] == 0) --end;
    nals.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(starts[n]),
                      b.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return nals;
}

int NalType(const std::vector<std::uint8_t>& nal, TestCodec codec) {
  if (nal.empty()) return -1;
  return codec == TestCodec::Avc ? nal[0] & 0x1F : (nal[0] >> 1) & 0x3F;
}

std::vector<int> NalTypes(const std::vector<std::uint8_t>& bytes, TestCodec codec) {
  std::vector<int> types;
  for (const auto& nal : NalUnits(bytes)) types.push_back(NalType(nal, codec));
  return types;
}

StderrCapture::StderrCapture() : file_(std::tmpfile()) {
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  dup2(fileno(file_), STDERR_FILENO);
}

StderrCapture::~StderrCapture() {
  Stop();
  std::fclose(file_);
}

std::string StderrCapture::Stop() {
  if (saved_ >= 0) {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::string text;
  std::rewind(file_);
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) text.append(chunk, n);
  return text;
}

}  // namespace corvantis
