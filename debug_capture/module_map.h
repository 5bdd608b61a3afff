#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvantis {

// The path of the file mapped at `address` in the text of /proc/<pid>/maps; nothing for
// anonymous and pseudo-mappings ("[heap]") or an address outside every mapping.
std::optional<std::string> MappedFileAt(std::string_view maps, std::uint64_t address);

}  // namespace corvantis
