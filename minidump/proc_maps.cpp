#include "minidump/proc_maps.h"

#include <charconv>

namespace corvantis::minidump {

namespace {

// Reads a hexadecimal or decimal field up to the first character that is not a digit of it.
bool ReadNumber(std::string_view& text, std::uint64_t& value, int base) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

bool Expect(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

bool ParseLine(std::string_view line, MemoryMapping& mapping) {
  std::uint64_t ignored = 0;
  if (!ReadNumber(line, mapping.Start, 16) || !Expect(line, '-') ||
      !ReadNumber(line, mapping.End, 16) || !Expect(line, ' ') || line.size() < 4)
    return false;
  mapping.Readable = line[0] == 'r';
  mapping.Writable = line[1] == 'w';
  mapping.Executable = line[2] == 'x';
  mapping.Shared = line[3] == 's';
  line.remove_prefix(4);
  SkipBlanks(line);
  if (!ReadNumber(line, mapping.Offset, 16)) return false;
  SkipBlanks(line);
  if (!ReadNumber(line, ignored, 16) || !Expect(line, ':') || !ReadNumber(line, ignored, 16))
    return false;
  SkipBlanks(line);
  if (!ReadNumber(line, mapping.Inode, 10)) return false;
  SkipBlanks(line);
  mapping.Path = std::string(line);
  return mapping.End > mapping.Start;
}

}  // namespace

std::vector<MemoryMapping> ParseProcMaps(std::string_view text) {
  std::vector<MemoryMapping> mappings;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    MemoryMapping mapping;
    if (ParseLine(line, mapping)) mappings.push_back(std::move(mapping));
  }
  return mappings;
}

const MemoryMapping* FindMapping(const std::vector<MemoryMapping>& mappings,
                                 std::uint64_t address) {
  for (const MemoryMapping& mapping : mappings)
    if (address >= mapping.Start && address < mapping.End) return &mapping;
  return nullptr;
}

}  // namespace corvantis::minidump
