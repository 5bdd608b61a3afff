#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/va_probe.h"

namespace corvantis {

// The enumeration index that "-Adapter:<choice>" names among `nodes` (the software adapter
// follows them): an index, a render node path or a PCI address. Raises E_INVALIDARG, saying why
// and naming the adapters there are, when it names none.
std::uint32_t ResolveAdapterChoice(const std::wstring& choice,
                                   const std::vector<RenderNodeFacts>& nodes);

// "-ListAdapters": one line per render node (index, node, PCI address, name, kernel driver, VA
// driver and vendor string, and for H.264 and HEVC "encodes" or why not, as `probe` finds), then
// the software adapter.
void ListAdapters(const std::vector<RenderNodeFacts>& nodes,
                  const std::function<VaNodeFacts(const std::string&)>& probe, Console& out);

}  // namespace corvantis
