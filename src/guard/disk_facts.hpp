#pragma once
// What the guard learns about a disk before autodeploy wipes it, or the step at which it could not.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace autodeploy::guard {

// STORAGE_BUS_TYPE values (winioctl.h) the decision turns on; the Win32 probe checks they match.
inline constexpr std::uint32_t kBus1394 = 4;
inline constexpr std::uint32_t kBusUsb = 7;
inline constexpr std::uint32_t kBusSd = 12;
inline constexpr std::uint32_t kBusMmc = 13;

struct DiskFacts {
    std::uint32_t number;
    std::uint32_t bus_type;  // STORAGE_BUS_TYPE
    bool removable_media;
    std::string vendor;
    std::string product;
    std::uint64_t size_bytes;
    bool holds_boot_medium;  // a volume on it holds \sources\boot.wim
};

enum class ProbeStep { OpenDisk, DeviceProperties, Size, ListVolumes, VolumeDisks };

struct ProbeFailure {
    ProbeStep step;
    std::uint32_t system_error;
};

using DiskProbe = std::variant<DiskFacts, ProbeFailure>;

// The bus as diskpart and Device Manager name it: "USB", "NVMe", "SATA", ... or "bus type N".
std::string bus_name(std::uint32_t bus_type);

// A STORAGE_DEVICE_DESCRIPTOR string: the bytes from `offset` (0: none) to a NUL or the buffer's
// end, printable ASCII only, blanks at either end dropped (vendor ids come padded with spaces).
std::string descriptor_text(std::span<const std::byte> descriptor, std::uint32_t offset);

}  // namespace autodeploy::guard
