#pragma once
#include <string>

namespace corvantis::amfrt {

// What encodes behind libavcodec's encoder `codecName`, read from the loaded libraries, e.g.
// "libx264 build 164 (libavcodec 59.37.100)" or "libx265 3.5+1-f0c1022b6 build 199 (...)".
std::wstring DescribeEncoderLibrary(const char* codecName);

}  // namespace corvantis::amfrt
