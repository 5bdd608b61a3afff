#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace corvantis {

// Read-only key/value store in the shape of the Windows registry: values carry a type and raw
// bytes (strings as UTF-16LE with their terminator).
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

inline constexpr std::int32_t ERROR_SUCCESS = 0;
inline constexpr std::int32_t ERROR_MORE_DATA = 234;
inline constexpr std::int32_t ERROR_FILE_NOT_FOUND_STATUS = 2;

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Copies the value into `data` (capacity *size bytes) and sets *size to its length;
  // ERROR_MORE_DATA when it does not fit, ERROR_FILE_NOT_FOUND_STATUS when absent.
  virtual std::int32_t QueryValue(const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* size) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // The key under HKEY_LOCAL_MACHINE, or nothing when it does not exist.
  virtual std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path) = 0;
};

// On Linux the AMD driver's install key exists while the amdgpu kernel driver is loaded; it
// holds "ReleaseVersion" (the kernel release that carries the driver), for a packaged driver
// that reports one "ExternalReleaseVersion" (its module version), and, where the first AMD render
// node has a VA driver, "MarketEdition" (that driver's vendor string). Other keys do not exist.
Registry& LinuxRegistry();

// A string value as the registry holds it: UTF-16LE code units and a terminating zero.
std::basic_string<std::uint8_t> EncodeRegistryString(const std::wstring& text);

}  // namespace corvantis
