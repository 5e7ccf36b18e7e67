#include "disk_facts.hpp"

#include <array>
#include <string_view>

namespace autodeploy::guard {

std::string bus_name(std::uint32_t bus_type) {
    static constexpr std::array<std::string_view, 20> kNames{
        "unknown bus",    "SCSI",  "ATAPI", "ATA",  "1394", "SSA", "Fibre Channel", "USB",
        "RAID",           "iSCSI", "SAS",   "SATA", "SD",   "MMC", "Virtual",       "file-backed virtual",
        "Storage Spaces", "NVMe",  "SCM",   "UFS"};
    if (bus_type < kNames.size()) return std::string{kNames[bus_type]};
    return "bus type " + std::to_string(bus_type);
}

std::string descriptor_text(std::span<const std::byte> descriptor, std::uint32_t offset) {
    std::string text;
    if (offset == 0) return text;
    for (std::size_t i = offset; i < descriptor.size() && descriptor[i] != std::byte{0}; ++i) {
        const auto c = static_cast<char>(descriptor[i]);
        if (c >= ' ' && c <= '~') text.push_back(c);
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace autodeploy::guard
