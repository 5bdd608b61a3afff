#pragma once

namespace corvantis {

// Names of the per-frame and output properties of one codec.
struct CodecPropertyNames {
  const wchar_t* InsertAud;
  const wchar_t* HeaderProperties[2];  // the second is null for HEVC
  const wchar_t* OutputDataType;
};

}  // namespace corvantis
