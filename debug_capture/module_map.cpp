#include "debug_capture/module_map.h"

#include <charconv>

namespace corvantis {

namespace {

bool ParseHex(std::string_view text, std::uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

// The next blank-separated field of `line` from `at`.
std::string_view NextField(std::string_view line, std::size_t& at) {
  while (at < line.size() && line[at] == ' ') ++at;
  const std::size_t start = at;
  while (at < line.size() && line[at] != ' ') ++at;
  return line.substr(start, at - start);
}

}  // namespace

std::optional<std::string> MappedFileAt(std::string_view maps, std::uint64_t address) {
  // Each line: start-end perms offset dev inode [path]; the path may hold blanks.
  while (!maps.empty()) {
    const std::size_t lineEnd = maps.find('\n');
    const std::string_view line = maps.substr(0, lineEnd);
    maps.remove_prefix(lineEnd == std::string_view::npos ? maps.size() : lineEnd + 1);
    std::size_t at = 0;
    const std::string_view range = NextField(line, at);
    const std::size_t dash = range.find('-');
    std::uint64_t start = 0, end = 0;
    if (dash == std::string_view::npos || !ParseHex(range.substr(0, dash), start) ||
        !ParseHex(range.substr(dash + 1), end) || address < start || address >= end)
      continue;
    for (int field = 0; field < 4; ++field) NextField(line, at);
    while (at < line.size() && line[at] == ' ') ++at;
    std::string_view path = line.substr(at);
    if (path.empty() || path.front() != '/') return std::nullopt;
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted)
      path.remove_suffix(kDeleted.size());
    return std::string(path);
  }
  return std::nullopt;
}

}  // namespace corvantis
