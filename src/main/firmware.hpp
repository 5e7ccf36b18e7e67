#pragma once
// What the machine boots by, and the partition style and boot-file target that follow from it.
#include <cstdint>
#include <optional>
#include <string_view>

#include "scrambled/scrambled_text_store.hpp"

namespace autodeploy {

enum class FirmwareKind { Uefi, LegacyBios };
enum class PartitionStyle { Gpt, Mbr };

struct FirmwareLayout {
    FirmwareKind firmware;
    std::string_view firmware_label;  // "UEFI" / "Legacy BIOS"
    PartitionStyle style;
    std::string_view style_label;  // "GPT" / "MBR"
    ScriptEntry script;
    std::string_view system_partition;  // boot-file target: "S:" / "C:"
    std::string_view boot_firmware;     // boot-file firmware argument: "UEFI" / "BIOS"
};

// "PEFirmwareType" reads 2 on UEFI; any other number, or no reading at all, means legacy BIOS.
const FirmwareLayout& layout_for_firmware_type(std::optional<std::uint32_t> pe_firmware_type);

}  // namespace autodeploy
