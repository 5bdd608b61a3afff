#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "debug_capture/module_map.h"
#include "debug_capture/parent_process_debug.h"
#include "debug_capture/text.h"
#include "platform/module_path.h"
#include "platform/utf.h"

namespace corvantis {

namespace {

constexpr std::uint32_t kThreadNamingCode = 0x406D1388;
constexpr std::size_t kObjectBytes = 8192;
constexpr std::size_t kTypeDescriptorBytes = 1024;
constexpr std::size_t kTypeNameOffset = 16;
constexpr std::size_t kMessageBytes = 8192;
constexpr std::size_t kOriginateBytes = 8192;
constexpr std::size_t kOriginateUnits = 4095;
constexpr std::size_t kHexDumpBytes = 20;

std::uint32_t LoadU32(const std::byte* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

std::uint64_t LoadU64(const std::byte* at) {
  std::uint64_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

bool ReadAll(TargetMemory& memory, std::uint64_t address, std::span<std::byte> into) {
  return memory.Read(address, into) == into.size();
}

struct ThrownType {
  std::string Name;
  std::uint32_t ObjectSize = 0;
};

// ThrowInfo -> CatchableTypeArray -> first CatchableType -> TypeDescriptor, the offsets 32-bit
// from the image base. Any record that cannot be read leaves the type unknown.
ThrownType ReadThrownType(TargetMemory& memory, std::uint64_t throwInfo, std::uint64_t imageBase) {
  if (throwInfo == 0) return {};
  std::array<std::byte, 16> info;
  if (!ReadAll(memory, throwInfo, info)) return {};
  std::array<std::byte, 8> typeArray;
  if (!ReadAll(memory, imageBase + LoadU32(&info[12]), typeArray)) return {};
  std::array<std::byte, 28> catchable;
  if (!ReadAll(memory, imageBase + LoadU32(&typeArray[4]), catchable)) return {};
  // A descriptor near the end of its mapping copies short; its name counts only when it ends
  // within the copy.
  std::array<std::byte, kTypeDescriptorBytes> descriptor;
  const std::size_t copied = memory.Read(imageBase + LoadU32(&catchable[4]), descriptor);
  if (copied <= kTypeNameOffset) return {};
  const char* name = reinterpret_cast<const char*>(descriptor.data()) + kTypeNameOffset;
  const std::size_t available = copied - kTypeNameOffset;
  const auto* terminator = static_cast<const char*>(std::memchr(name, 0, available));
  if (terminator == nullptr && copied < descriptor.size()) return {};
  const std::size_t length =
      terminator != nullptr ? static_cast<std::size_t>(terminator - name) : available;
  return {std::string(name, length), LoadU32(&catchable[20])};
}

struct KnownType {
  std::string_view DecoratedName;
  const wchar_t* Word;
  std::size_t BytesForValue;  // the HRESULT is taken from this many copied bytes on
  std::size_t ValueOffset;
};

// For ComException the value at 24 needs 28 bytes: fields beyond the copy count as absent.
constexpr KnownType kKnownTypes[] = {
    {".J", L"HRESULT", 4, 0},
    {".?AV_com_error@@", L"_com_error", 12, 8},
    {".?AVCAtlException@ATL@@", L"ATL::CAtlException", 4, 0},
    {".?AUhresult_error@winrt@@", L"winrt::hresult_error", 24, 12},
    {".?AVComException@@", L"ComException", 28, 24},
};
constexpr std::size_t kComExceptionMessageEnd = 16;  // the message pointer at 8

std::wstring HexDump(std::span<const std::byte> data) {
  std::wstring dump = FormatText(L"%zu bytes: ", data.size());
  const std::size_t shown = std::min(data.size(), kHexDumpBytes);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i != 0) dump += L' ';
    dump += FormatText(L"%02X", static_cast<unsigned>(data[i]));
  }
  if (data.size() > kHexDumpBytes) dump += L"...";
  return dump;
}

// The UTF-8 text at `address` up to its first zero byte, at most 8191 bytes of an 8192-byte
// read; nothing when nothing can be read.
std::optional<std::wstring> ReadMessage(TargetMemory& memory, std::uint64_t address) {
  std::vector<std::byte> buffer(kMessageBytes);
  const std::size_t copied = memory.Read(address, buffer);
  if (copied == 0) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(buffer.data());
  const std::size_t limit = std::min(copied, kMessageBytes - 1);
  const auto* terminator = static_cast<const char*>(std::memchr(text, 0, limit));
  return Utf8ToWide(std::string_view(
      text, terminator != nullptr ? static_cast<std::size_t>(terminator - text) : limit));
}

bool FileNameEquals(const std::wstring& path, std::wstring_view name) {
  const std::wstring file = FindFileName(path);
  return std::equal(file.begin(), file.end(), name.begin(), name.end(), [](wchar_t a, wchar_t b) {
    auto fold = [](wchar_t c) {
      return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    return fold(a) == fold(b);
  });
}

}  // namespace

int ParentProcessDebug::DescribeException(TargetMemory& memory, const MapsReader& readMaps,
                                          const EXCEPTION_RECORD64& record,
                                          std::wstring& codeText) {
  if (record.ExceptionCode == EXCEPTION_RO_ORIGINATEERROR) {
    if (!Output) return 0;
    const auto length = static_cast<std::uint32_t>(record.ExceptionInformation[1]);
    std::array<char16_t, kOriginateBytes / 2> units;
    const std::size_t bytes = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::uint64_t{length} * 2, kOriginateBytes));
    const std::size_t copied = memory.Read(record.ExceptionInformation[2],
                                           std::as_writable_bytes(std::span(units)).first(bytes));
    if (copied == 0) return 0;
    std::u16string_view message(units.data(),
                                std::min<std::size_t>({copied / 2, length, kOriginateUnits}));
    message = message.substr(0, message.find(u'\0'));
    Output(Utf16ToWide(message).c_str());
    return 0;
  }

  ExceptionData data;
  std::vector<std::wstring> details;
  std::vector<std::byte> object;
  if (record.ExceptionCode != EXCEPTION_MSVC_CPP) {
    data.Value = record.ExceptionCode;
  } else {
    const std::uint64_t objectAddress = record.ExceptionInformation[1];
    const std::uint64_t imageBase = record.ExceptionInformation[3];
    if (readMaps) {
      if (const auto maps = readMaps())
        if (const auto path = MappedFileAt(*maps, imageBase)) data.ModulePath = Utf8ToWide(*path);
    }
    const ThrownType type = ReadThrownType(memory, record.ExceptionInformation[2], imageBase);
    data.TypeName = type.Name;
    if (!data.ModulePath.empty())
      details.push_back(FormatText(L"Module %ls", FindFileName(data.ModulePath).c_str()));

    bool typeShown = false;
    if (type.ObjectSize != 0) {
      object.resize(std::min<std::size_t>(type.ObjectSize, kObjectBytes));
      object.resize(memory.Read(objectAddress, object));
    }
    if (!object.empty()) {
      data.Data = object.data();
      data.DataSize = object.size();
      const auto known =
          std::find_if(std::begin(kKnownTypes), std::end(kKnownTypes),
                       [&](const KnownType& k) { return k.DecoratedName == type.Name; });
      if (known == std::end(kKnownTypes)) {
        details.push_back(HexDump(object));
      } else {
        typeShown = true;
        details.emplace_back(known->Word);
        const bool exact = known->DecoratedName == ".J";
        if (exact ? object.size() == known->BytesForValue : object.size() >= known->BytesForValue) {
          data.Value = LoadU32(&object[known->ValueOffset]);
          details.push_back(FormatText(L"0x%08X", data.Value));
          codeText = FormatText(L"0x%08X", data.Value);
        }
        if (known->DecoratedName == ".?AVComException@@" &&
            object.size() >= kComExceptionMessageEnd) {
          if (const std::uint64_t message = LoadU64(&object[8]); message != 0)
            if (auto text = ReadMessage(memory, message)) details.push_back(std::move(*text));
        }
      }
    }
    if (!typeShown && !data.TypeName.empty())
      details.push_back(FormatText(L"Type %ls", Utf8ToWide(data.TypeName).c_str()));
  }

  if (ExceptionFilter && ExceptionFilter(data) == 0) return 0;
  // An empty Output raises here, which ends the relay.
  Output(FormatText(L"Exception: %ls", JoinText(details, L", ").c_str()).c_str());
  return 1;
}

int DefaultExceptionFilter(const ParentProcessDebug::ExceptionData& data) {
  if (data.ModulePath.empty() && data.TypeName.empty() && data.Value == kThreadNamingCode) return 0;
  if (data.TypeName == ".?AV_com_error@@") {
    if (FileNameEquals(data.ModulePath, L"D3DSCache.dll") &&
        (data.Value == 0x80004005 || data.Value == 0x887A0033))
      return 0;
    if (FileNameEquals(data.ModulePath, L"d3d11.dll") &&
        (data.Value == 0x80070057 || data.Value == 0x887A0005))
      return 0;
  }
  return 1;
}

}  // namespace corvantis
