#include "tests/vaapi_driver/stream_check.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/log.h>
}
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace corvantis::streamcheck {
namespace {

struct Unit {
  std::size_t begin, end;  // the NAL unit, header included, without its start code
  int type;
};

std::vector<Unit> Units(const std::vector<std::uint8_t>& s, Codec codec) {
  std::vector<Unit> units;
  for (std::size_t i = 0; i + 3 <= s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    if (!units.empty()) {
      std::size_t end = i;
      while (end > units.back().begin && s[end - 1] == 0) --end;
      units.back().end = end;
    }
    if (i + 3 < s.size())
      units.push_back(
          {i + 3, s.size(), codec == Codec::Hevc ? s[i + 3] >> 1 & 0x3f : s[i + 3] & 0x1f});
    i += 2;
  }
  return units;
}

bool IsParameterSet(int type, Codec codec) {
  return codec == Codec::Hevc ? type >= 32 && type <= 34 : type == 7 || type == 8;
}

// The child's side: libavutil's log, of the filter only, down the pipe.
int gPipe = -1;
const void* gFilter = nullptr;

void ToPipe(void* object, int level, const char* format, std::va_list args) {
  if (object != gFilter || level > AV_LOG_INFO) return;
  char line[1024];
  line[0] = level <= AV_LOG_ERROR ? 'E' : 'T';
  const int n = std::vsnprintf(line + 1, sizeof line - 2, format, args);
  if (n <= 0) return;
  std::size_t length = std::strlen(line);
  if (line[length - 1] != '\n') line[length++] = '\n';
  (void)!::write(gPipe, line, length);
}

// Each parameter set a packet of its own through trace_headers, so that one that cannot be read
// is named and the ones after it are still read.
[[noreturn]] void TraceInChild(const std::vector<std::uint8_t>& s, const std::vector<Unit>& units,
                               Codec codec, int fd) {
  gPipe = fd;
  AVBSFContext* filter = nullptr;
  if (av_bsf_alloc(av_bsf_get_by_name("trace_headers"), &filter) < 0) ::_exit(2);
  filter->par_in->codec_id = codec == Codec::Hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
  gFilter = filter;
  av_log_set_callback(ToPipe);
  if (av_bsf_init(filter) < 0) ::_exit(2);
  AVPacket* packet = av_packet_alloc();
  for (const Unit& u : units) {
    if (!IsParameterSet(u.type, codec)) continue;
    char marker[32];
    const int n = std::snprintf(marker, sizeof marker, "U%d\n", u.type);
    (void)!::write(fd, marker, static_cast<std::size_t>(n));
    if (av_new_packet(packet, static_cast<int>(u.end - u.begin + 4)) < 0) ::_exit(2);
    static constexpr std::uint8_t kStart[] = {0, 0, 0, 1};
    std::memcpy(packet->data, kStart, 4);
    std::memcpy(packet->data + 4, s.data() + u.begin, u.end - u.begin);
    if (av_bsf_send_packet(filter, packet) >= 0)
      while (av_bsf_receive_packet(filter, packet) >= 0) av_packet_unref(packet);
    av_packet_unref(packet);
  }
  ::_exit(0);
}

// What the child wrote, within a bound; empty with `error` set when it could not run.
std::string RunTrace(const std::vector<std::uint8_t>& s, const std::vector<Unit>& units,
                     Codec codec, std::string* error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *error = "pipe failed";
    return {};
  }
  // A child of its own: the trace is libavutil's log, and the process's log callback belongs to
  // whoever set it (the runtime routes it to its trace).
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    TraceInChild(s, units, codec, fds[1]);
  }
  ::close(fds[1]);
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool timedOut = child < 0;
  while (child > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
      timedOut = true;
      ::kill(child, SIGKILL);
      break;
    }
    char buffer[4096];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  if (child > 0) ::waitpid(child, &status, 0);
  if (timedOut)
    *error = "FFmpeg's reader did not finish";
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    *error = "FFmpeg's reader could not run";
  return out;
}

struct Fields {
  std::map<std::string, std::int64_t> values;
  std::int64_t Get(const std::string& name, std::int64_t otherwise = 0) const {
    const auto found = values.find(name);
    return found != values.end() ? found->second : otherwise;
  }
  bool Has(const std::string& name) const { return values.count(name) != 0; }
};

// The lengths one SPS gives, legal or not.
bool LengthsLegal(const Fields& sps, Codec codec) {
  auto within = [&](const char* name) { return sps.Has(name) && sps.Get(name) <= 12; };
  if (codec == Codec::Hevc) return within("log2_max_pic_order_cnt_lsb_minus4");
  return within("log2_max_frame_num_minus4") &&
         (sps.Get("pic_order_cnt_type") != 0 || within("log2_max_pic_order_cnt_lsb_minus4"));
}

void Describe(const Fields& sps, Codec codec, Report& r) {
  const bool hevc = codec == Codec::Hevc;
  r.Profile = static_cast<int>(sps.Get(hevc ? "general_profile_idc" : "profile_idc"));
  r.Level = static_cast<int>(sps.Get(hevc ? "general_level_idc" : "level_idc"));
  // 4:2:0: the window counts chroma samples, two luma each way (two fields' rows when not
  // frame-only in H.264).
  static constexpr const char* kSides[] = {"left", "right", "top", "bottom"};
  std::int64_t crop[4] = {};
  if (hevc) {
    r.CodedWidth = static_cast<int>(sps.Get("pic_width_in_luma_samples"));
    r.CodedHeight = static_cast<int>(sps.Get("pic_height_in_luma_samples"));
    for (int i = 0; i < 4 && sps.Get("conformance_window_flag"); ++i)
      crop[i] = sps.Get(std::string("conf_win_") + kSides[i] + "_offset");
  } else {
    const std::int64_t frameOnly = sps.Get("frame_mbs_only_flag", 1);
    r.CodedWidth = static_cast<int>(16 * (sps.Get("pic_width_in_mbs_minus1") + 1));
    r.CodedHeight =
        static_cast<int>(16 * (2 - frameOnly) * (sps.Get("pic_height_in_map_units_minus1") + 1));
    for (int i = 0; i < 4 && sps.Get("frame_cropping_flag"); ++i)
      crop[i] = sps.Get(std::string("frame_crop_") + kSides[i] + "_offset") *
                (i >= 2 ? 2 - frameOnly : 1);
  }
  r.Width = r.CodedWidth - 2 * static_cast<int>(crop[0] + crop[1]);
  r.Height = r.CodedHeight - 2 * static_cast<int>(crop[2] + crop[3]);
  if (sps.Has(hevc ? "log2_max_pic_order_cnt_lsb_minus4" : "pic_order_cnt_type") &&
      (hevc || sps.Get("pic_order_cnt_type") == 0))
    r.Log2MaxPocLsb = static_cast<int>(sps.Get("log2_max_pic_order_cnt_lsb_minus4") + 4);
  if (!hevc && sps.Has("log2_max_frame_num_minus4"))
    r.Log2MaxFrameNum = static_cast<int>(sps.Get("log2_max_frame_num_minus4") + 4);
  const char* tick = hevc ? "vui_num_units_in_tick" : "num_units_in_tick";
  const char* scale = hevc ? "vui_time_scale" : "time_scale";
  if (sps.Get(hevc ? "vui_timing_info_present_flag" : "timing_info_present_flag") &&
      sps.Get(tick) > 0)
    r.Rate =
        static_cast<double>(sps.Get(scale)) / static_cast<double>(sps.Get(tick)) / (hevc ? 1 : 2);
  r.VideoSignalType = sps.Get("video_signal_type_present_flag") != 0;
  r.FullRange = sps.Get("video_full_range_flag") != 0;
  if (sps.Get("colour_description_present_flag")) {
    r.ColourPrimaries = static_cast<int>(sps.Get("colour_primaries"));
    r.Transfer = static_cast<int>(sps.Get("transfer_characteristics"));
    r.Matrix = static_cast<int>(sps.Get("matrix_coefficients"));
  }
}

}  // namespace

Report CheckStream(const std::vector<std::uint8_t>& annexB, Codec codec) {
  Report r;
  const bool hevc = codec == Codec::Hevc;
  const std::vector<Unit> units = Units(annexB, codec);
  bool vps = false, sps = false;
  r.DecodingOrder = true;
  for (const Unit& u : units) {
    const bool idr = hevc ? u.type == 19 || u.type == 20 : u.type == 5;
    const std::size_t payload = u.begin + (hevc ? 2 : 1);
    if (idr && payload < u.end && (annexB[payload] & 0x80) != 0) ++r.IdrPictures;
    if (!IsParameterSet(u.type, codec)) continue;
    r.ParameterSets.push_back(u.type);
    const bool isVps = hevc && u.type == 32, isSps = u.type == (hevc ? 33 : 7);
    if ((isSps && hevc && !vps) || (!isVps && !isSps && !sps)) r.DecodingOrder = false;
    vps = vps || isVps;
    sps = sps || isSps;
  }

  std::string error;
  const std::string trace = RunTrace(annexB, units, codec, &error);
  std::vector<Fields> spses;
  int current = -1;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    if (line[0] == 'U') {
      current = std::atoi(line.c_str() + 1);
      if (current == (hevc ? 33 : 7)) spses.emplace_back();
    } else if (line[0] == 'E') {
      if (error.empty()) error = line.substr(1);
    } else if (current == (hevc ? 33 : 7) && line.find(" = ") != std::string::npos) {
      std::istringstream fields(line.substr(1));
      std::string position, name, bits, equals;
      std::int64_t value = 0;
      if (fields >> position >> name >> bits >> equals >> value && equals == "=")
        spses.back().values.emplace(name, value);
    }
  }
  r.Error = error;
  r.ParameterSetsRead = error.empty() && !r.ParameterSets.empty();
  r.LengthsLegal = !spses.empty();
  for (const Fields& f : spses) r.LengthsLegal = r.LengthsLegal && LengthsLegal(f, codec);
  if (!spses.empty()) Describe(spses.front(), codec, r);
  return r;
}

Report CheckStreamFile(const std::string& path, Codec codec) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    Report r;
    r.Error = "cannot read " + path;
    return r;
  }
  return CheckStream(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {}), codec);
}

}  // namespace corvantis::streamcheck
