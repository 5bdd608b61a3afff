#pragma once
#include <va/va.h>

#include <memory>
#include <string>

namespace corvantis::amfrt {

// The driver's video processor converting BGRA surfaces to NV12 surfaces of the same size, BT.601
// limited range. Borrows the display, which must outlive it.
class VaapiVpp {
 public:
  // Nothing, with the failed call in *error, when the driver refuses the processing context.
  static std::unique_ptr<VaapiVpp> Create(VADisplay display, int width, int height,
                                          std::string* error);
  ~VaapiVpp();
  VaapiVpp(const VaapiVpp&) = delete;
  VaapiVpp& operator=(const VaapiVpp&) = delete;

  // Converts `bgra` into `nv12` and waits until the processor is done with both, so that the
  // source surface may be written again at once.
  bool Convert(VASurfaceID bgra, VASurfaceID nv12, std::string* error);

 private:
  VaapiVpp(VADisplay display, VAConfigID config, VAContextID context)
      : display_(display), config_(config), context_(context) {}

  VADisplay display_;
  VAConfigID config_;
  VAContextID context_;
};

}  // namespace corvantis::amfrt
