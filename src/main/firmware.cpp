#include "firmware.hpp"

namespace autodeploy {

namespace {

constexpr FirmwareLayout kUefi{
    FirmwareKind::Uefi, "UEFI", PartitionStyle::Gpt, "GPT", ScriptEntry::GPT_SCRIPT, "S:", "UEFI"};
constexpr FirmwareLayout kLegacyBios{
    FirmwareKind::LegacyBios, "Legacy BIOS", PartitionStyle::Mbr, "MBR", ScriptEntry::MBR_SCRIPT, "C:", "BIOS"};

}  // namespace

const FirmwareLayout& layout_for_firmware_type(std::optional<std::uint32_t> pe_firmware_type) {
    return pe_firmware_type == 2u ? kUefi : kLegacyBios;
}

}  // namespace autodeploy
