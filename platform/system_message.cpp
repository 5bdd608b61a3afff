#include "platform/system_message.h"

#include <cstdint>

namespace corvantis {

namespace {

struct KnownMessage {
  std::uint32_t Code;
  const wchar_t* Text;
};

constexpr KnownMessage kMessages[] = {
    {0x80004001u, L"Not implemented"},
    {0x80004005u, L"Unspecified error"},
    {0x8000FFFFu, L"Catastrophic failure"},
    {0x8007000Eu, L"Not enough memory resources are available to complete this operation."},
    {0x80070001u, L"Incorrect function."},
    {0x80070002u, L"The system cannot find the file specified."},
    {0x80070003u, L"The system cannot find the path specified."},
    {0x80070004u, L"The system cannot open the file."},
    {0x80070005u, L"Access is denied."},
    {0x80070006u, L"The handle is invalid."},
    {0x80070008u, L"Not enough memory resources are available to process this command."},
    {0x80070013u, L"The media is write protected."},
    {0x80070050u, L"The file exists."},
    {0x80070057u, L"The parameter is incorrect."},
    {0x80070070u, L"There is not enough space on the disk."},
    {0x8007006Du, L"The pipe has been ended."},
    {0x80070091u, L"The directory is not empty."},
    {0x800700AAu, L"The requested resource is in use."},
    {0x800700CEu, L"The filename or extension is too long."},
    {0x800700DFu, L"The file size exceeds the limit allowed and cannot be saved."},
    {0x80070459u,
     L"No mapping for the Unicode character exists in the target multi-byte code page."},
    {0x8007045Du, L"The request could not be performed because of an I/O device error."},
    {0x8007050Fu, L"The requested file operation failed because the storage quota was exceeded."},
    {0x800705B4u, L"This operation returned because the timeout period expired."},
};

}  // namespace

std::wstring SystemMessage(HRESULT code) {
  const auto value = static_cast<std::uint32_t>(code);
  for (const KnownMessage& m : kMessages)
    if (m.Code == value) return m.Text;
  return {};
}

}  // namespace corvantis
