#pragma once
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/graphics.h"
#include "tests/fakes/files.h"

namespace corvantis::series_testing {

// A fake sysfs tree of render nodes with a /dev/dri of links to the nodes' real files.
class AdapterTree {
 public:
  AdapterTree() {
    sources_.DrmClassDir = (root_ / "class" / "drm").string();
    sources_.RenderNodeDir = (root_ / "dev").string();
    sources_.ModuleDir = (root_ / "module").string();
    sources_.PciIdsPath = (root_ / "none.ids").string();
    std::filesystem::create_directories(root_ / "dev");
  }

  // renderD<minor>, an AMD device at `pci` bound to amdgpu, whose node opens `target`; returns
  // the node's path.
  std::string Add(int minor, const std::string& pci, const std::string& target) {
    const std::string name = "renderD" + std::to_string(minor);
    Write("class/drm/" + name + "/device/vendor", "0x1002\n");
    Write("class/drm/" + name + "/device/device", "0x73ff\n");
    Write("class/drm/" + name + "/device/uevent", "DRIVER=amdgpu\nPCI_SLOT_NAME=" + pci + "\n");
    std::filesystem::create_symlink(target, root_ / "dev" / name);
    return (root_ / "dev" / name).string();
  }
  void Write(const std::string& relative, const std::string& text) {
    std::filesystem::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << text;
  }
  const AdapterSources& Sources() const { return sources_; }

 private:
  const TempDir temp_;
  const std::filesystem::path root_ = temp_.path();
  AdapterSources sources_;
};

}  // namespace corvantis::series_testing
