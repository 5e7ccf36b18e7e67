#pragma once
#include <cstdint>
#include <optional>

namespace autodeploy {

// "PEFirmwareType" under HKLM\SYSTEM\CurrentControlSet\Control as a REG_DWORD; nothing when it
// is missing, of another type or unreadable (Win32).
std::optional<std::uint32_t> read_pe_firmware_type();

}  // namespace autodeploy
