#include "minidump/elf_modules.h"

#include <elf.h>

#include <cstring>
#include <string>

namespace corvantis::minidump {

namespace {

constexpr std::uint64_t kMaxNoteBytes = 64 * 1024;
constexpr std::uint16_t kMaxProgramHeaders = 256;

template <typename T>
bool ReadObject(TargetMemory& memory, std::uint64_t address, T& value) {
  return memory.Read(address, std::as_writable_bytes(std::span(&value, 1))) == sizeof(T);
}

bool IsElf64(const Elf64_Ehdr& header) {
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
         header.e_ident[EI_CLASS] == ELFCLASS64;
}

std::uint64_t Align4(std::uint64_t value) { return (value + 3) & ~std::uint64_t{3}; }

std::vector<std::uint8_t> BuildIdInNotes(std::span<const std::byte> notes) {
  std::uint64_t at = 0;
  while (at + sizeof(Elf64_Nhdr) <= notes.size()) {
    Elf64_Nhdr note;
    std::memcpy(&note, notes.data() + at, sizeof(note));
    const std::uint64_t name = at + sizeof(note);
    const std::uint64_t desc = name + Align4(note.n_namesz);
    const std::uint64_t next = desc + Align4(note.n_descsz);
    if (desc + note.n_descsz > notes.size()) break;
    if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
        std::memcmp(notes.data() + name, "GNU", 4) == 0) {
      std::vector<std::uint8_t> id(note.n_descsz);
      if (!id.empty()) std::memcpy(id.data(), notes.data() + desc, id.size());
      return id;
    }
    at = next;
  }
  return {};
}

bool HasElfHeader(TargetMemory& memory, std::uint64_t address) {
  Elf64_Ehdr header;
  return ReadObject(memory, address, header) && IsElf64(header);
}

}  // namespace

std::vector<std::uint8_t> ReadElfBuildId(TargetMemory& memory, std::uint64_t base) {
  Elf64_Ehdr header;
  if (!ReadObject(memory, base, header) || !IsElf64(header) ||
      header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0 ||
      header.e_phnum > kMaxProgramHeaders)
    return {};
  std::vector<Elf64_Phdr> programHeaders(header.e_phnum);
  const auto table = std::as_writable_bytes(std::span(programHeaders));
  if (memory.Read(base + header.e_phoff, table) != table.size()) return {};

  // Segment addresses are relative to the load bias: where the first loadable segment landed.
  std::uint64_t bias = 0;
  bool haveBias = false;
  for (const Elf64_Phdr& segment : programHeaders) {
    if (segment.p_type == PT_LOAD && segment.p_offset == 0) {
      bias = base - (segment.p_vaddr & ~std::uint64_t{0xFFF});
      haveBias = true;
      break;
    }
  }
  if (!haveBias) return {};

  for (const Elf64_Phdr& segment : programHeaders) {
    if (segment.p_type != PT_NOTE || segment.p_memsz == 0 || segment.p_memsz > kMaxNoteBytes)
      continue;
    std::vector<std::byte> notes(static_cast<std::size_t>(segment.p_memsz));
    if (memory.Read(bias + segment.p_vaddr, notes) != notes.size()) continue;
    std::vector<std::uint8_t> id = BuildIdInNotes(notes);
    if (!id.empty()) return id;
  }
  return {};
}

std::vector<ModuleSnapshot> FindModules(std::span<const MemoryMapping> mappings,
                                        TargetMemory& memory) {
  std::vector<ModuleSnapshot> modules;
  for (std::size_t i = 0; i < mappings.size(); ++i) {
    const MemoryMapping& first = mappings[i];
    if (first.Path.empty() || first.Path.front() != '/' || first.Offset != 0 || !first.Readable)
      continue;
    if (!HasElfHeader(memory, first.Start)) continue;
    // The image runs through the file's later mappings (and the anonymous .bss right after
    // them) until another file, or this file mapped afresh, begins.
    std::uint64_t end = first.End;
    for (std::size_t j = i + 1; j < mappings.size(); ++j) {
      const MemoryMapping& next = mappings[j];
      if (next.Path == first.Path && next.Inode == first.Inode && next.Offset != 0) {
        end = next.End;
      } else if (!next.Path.empty() || next.Start != end) {
        break;
      }
    }
    modules.push_back(
        {first.Path, first.Start, end - first.Start, ReadElfBuildId(memory, first.Start)});
  }
  return modules;
}

}  // namespace corvantis::minidump
