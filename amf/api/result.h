#pragma once
#include <cstdint>

// Result codes with the numbering of the public AMF SDK.
enum AMF_RESULT : std::int32_t {
  AMF_OK = 0,
  AMF_FAIL = 1,
  AMF_UNEXPECTED = 2,
  AMF_ACCESS_DENIED = 3,
  AMF_INVALID_ARG = 4,
  AMF_OUT_OF_RANGE = 5,
  AMF_OUT_OF_MEMORY = 6,
  AMF_INVALID_POINTER = 7,
  AMF_NO_INTERFACE = 8,
  AMF_NOT_IMPLEMENTED = 9,
  AMF_NOT_SUPPORTED = 10,
  AMF_NOT_FOUND = 11,
  AMF_ALREADY_INITIALIZED = 12,
  AMF_NOT_INITIALIZED = 13,
  AMF_INVALID_FORMAT = 14,
  AMF_WRONG_STATE = 15,
  AMF_FILE_NOT_OPEN = 16,
  AMF_NO_DEVICE = 17,
  AMF_DIRECTX_FAILED = 18,
  AMF_OPENCL_FAILED = 19,
  AMF_GLX_FAILED = 20,
  AMF_XV_FAILED = 21,
  AMF_ALSA_FAILED = 22,
  AMF_EOF = 23,
  AMF_REPEAT = 24,
  AMF_INPUT_FULL = 25,
  AMF_RESOLUTION_CHANGED = 26,
  AMF_RESOLUTION_UPDATED = 27,
  AMF_INVALID_DATA_TYPE = 28,
  AMF_INVALID_RESOLUTION = 29,
  AMF_CODEC_NOT_SUPPORTED = 30,
  AMF_SURFACE_FORMAT_NOT_SUPPORTED = 31,
  AMF_SURFACE_MUST_BE_SHARED = 32,
  AMF_DECODER_NOT_PRESENT = 33,
  AMF_DECODER_SURFACE_ALLOCATION_FAILED = 34,
  AMF_DECODER_NO_FREE_SURFACES = 35,
  AMF_ENCODER_NOT_PRESENT = 36,
};

namespace amf {

typedef std::int64_t amf_int64;
typedef std::int32_t amf_int32;
typedef std::uint32_t amf_uint32;
typedef std::uint64_t amf_uint64;
typedef std::int32_t amf_long;
typedef std::size_t amf_size;
typedef bool amf_bool;
typedef double amf_double;
typedef float amf_float;
typedef std::int64_t amf_pts;  // 100 ns units
typedef wchar_t amf_wchar;

inline constexpr amf_pts AMF_SECOND = 10000000;

// major << 48 | minor << 32 | release << 16 | build
constexpr amf_uint64 AMF_MAKE_FULL_VERSION(amf_uint64 major, amf_uint64 minor, amf_uint64 release,
                                           amf_uint64 build) {
  return (major << 48) | (minor << 32) | (release << 16) | build;
}
constexpr amf_uint32 AMF_GET_MAJOR_VERSION(amf_uint64 v) {
  return static_cast<amf_uint32>((v >> 48) & 0xFFFF);
}
constexpr amf_uint32 AMF_GET_MINOR_VERSION(amf_uint64 v) {
  return static_cast<amf_uint32>((v >> 32) & 0xFFFF);
}
constexpr amf_uint32 AMF_GET_SUBMINOR_VERSION(amf_uint64 v) {
  return static_cast<amf_uint32>((v >> 16) & 0xFFFF);
}
constexpr amf_uint32 AMF_GET_BUILD_VERSION(amf_uint64 v) {
  return static_cast<amf_uint32>(v & 0xFFFF);
}

// The interface version the program asks the runtime for: 1.4.16.0.
inline constexpr amf_uint64 AMF_FULL_VERSION = AMF_MAKE_FULL_VERSION(1, 4, 16, 0);

}  // namespace amf
