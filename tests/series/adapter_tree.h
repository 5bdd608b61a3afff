#pragma once
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/graphics.h"

namespace corvantis::series_testing {

// A fake sysfs tree of render nodes with a /dev/dri of links to the nodes' real files.
class AdapterTree {
 public:
  AdapterTree() {
    char pattern[] = "/tmp/corvantis-adapters-XXXXXX";
    root_ = ::mkdtemp(pattern) != nullptr ? pattern : "";
    sources_.DrmClassDir = (root_ / "class" / "drm").string();
    sources_.RenderNodeDir = (root_ / "dev").string();
    sources_.ModuleDir = (root_ / "module").string();
    sources_.PciIdsPath = (root_ / "none.ids").string();
    std::filesystem::create_directories(root_ / "dev");
  }
  ~AdapterTree() { std::filesystem::remove_all(root_); }
  AdapterTree(const AdapterTree&) = delete;
  AdapterTree& operator=(const AdapterTree&) = delete;

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
  std::filesystem::path root_;
  AdapterSources sources_;
};

}  // namespace corvantis::series_testing
