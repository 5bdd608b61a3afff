#include "app/adapter_choice.h"

#include "platform/graphics.h"
#include "platform/hresult_error.h"
#include "platform/utf.h"

namespace corvantis {
namespace {

std::string NodeLine(std::size_t index, const RenderNodeFacts& node) {
  return std::to_string(index) + ": " + node.Node + ", " +
         (node.PciAddress.empty() ? std::string("no PCI address") : node.PciAddress) + ", " +
         node.Name + ", kernel driver " +
         (node.KernelDriver.empty() ? std::string("unknown") : node.KernelDriver);
}

std::string SoftwareLine(std::size_t index) {
  return std::to_string(index) + ": " + WideToUtf8Lossy(kSoftwareAdapterDescription) +
         "; H.264 encodes; HEVC encodes";
}

// The VA driver's name as libva loaded it: "radeonsi" of ".../radeonsi_drv_video.so".
std::string DriverName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  const std::size_t suffix = name.rfind("_drv_video.so");
  return suffix != std::string::npos ? name.substr(0, suffix) : name;
}

bool IsIndex(const std::wstring& text) {
  return !text.empty() && text.size() < 6 &&
         text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

}  // namespace

std::uint32_t ResolveAdapterChoice(const std::wstring& choice,
                                   const std::vector<RenderNodeFacts>& nodes) {
  const std::string wanted = WideToUtf8Lossy(choice);
  if (IsIndex(choice)) {
    const auto index = static_cast<std::uint32_t>(std::stoul(wanted));
    if (index <= nodes.size()) return index;
  }
  for (std::size_t i = 0; i < nodes.size(); ++i)
    if (!wanted.empty() && (wanted == nodes[i].Node || wanted == nodes[i].PciAddress))
      return static_cast<std::uint32_t>(i);
  std::string known;
  for (std::size_t i = 0; i < nodes.size(); ++i)
    known += std::to_string(i) + " " + nodes[i].Node +
             (nodes[i].PciAddress.empty() ? "" : " (" + nodes[i].PciAddress + ")") + ", ";
  known += std::to_string(nodes.size()) + " Software";
  const std::string why = wanted.empty()    ? "names no adapter"
                          : IsIndex(choice) ? "is past the last adapter"
                                            : "is no index, render node or PCI address here";
  throw hresult_error(E_INVALIDARG, Utf8ToWide("-Adapter:" + wanted + " " + why +
                                               "; the adapters are: " + known + "."));
}

void ListAdapters(const std::vector<RenderNodeFacts>& nodes,
                  const std::function<VaNodeFacts(const std::string&)>& probe, Console& out) {
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const VaNodeFacts va = probe(nodes[i].Node);
    std::string line = NodeLine(i, nodes[i]);
    if (va.Failure.empty())
      line += "; VA driver " + DriverName(va.DriverPath) + " \"" + va.Vendor + "\"; H.264 " +
              (va.H264.empty() ? "encodes" : "cannot: " + va.H264) + "; HEVC " +
              (va.Hevc.empty() ? "encodes" : "cannot: " + va.Hevc);
    else
      line += "; neither H.264 nor HEVC: " + va.Failure;
    out.WriteLine(Utf8ToWide(line));
  }
  out.WriteLine(Utf8ToWide(SoftwareLine(nodes.size())));
}

}  // namespace corvantis
