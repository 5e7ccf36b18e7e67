#include "firmware_registry.hpp"

#include "support/win32.hpp"

namespace autodeploy {

std::optional<std::uint32_t> read_pe_firmware_type() {
    DWORD value = 0;
    DWORD size = sizeof value;
    // Decide from the status alone: on failure the buffer may hold bytes of another type.
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control", L"PEFirmwareType",
                                        RRF_RT_REG_DWORD, nullptr, &value, &size);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

}  // namespace autodeploy
