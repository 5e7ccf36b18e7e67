#include "decision_line.hpp"

#include <string_view>

namespace autodeploy::guard {

namespace {

struct Both {
    std::string zh;
    std::string en;
};

Both failed_step(ProbeStep step) {
    switch (step) {
    case ProbeStep::OpenDisk: return {"打开 \\\\.\\PhysicalDrive0", "opening \\\\.\\PhysicalDrive0"};
    case ProbeStep::DeviceProperties: return {"读取设备属性", "reading its device properties"};
    case ProbeStep::Size: return {"读取大小", "reading its size"};
    case ProbeStep::ListVolumes: return {"列出卷", "listing the volumes"};
    case ProbeStep::VolumeDisks: return {"读取卷所在的磁盘", "reading which disks a volume is on"};
    }
    return {"?", "?"};
}

Both reason(const DiskProbe& probe, Refusal refusal) {
    if (const auto* failure = std::get_if<ProbeFailure>(&probe)) {
        const Both step = failed_step(failure->step);
        const std::string code = std::to_string(failure->system_error);
        return {"无法检查它（" + step.zh + "失败，Windows 错误 " + code + "）",
                "it cannot be checked (" + step.en + " failed: Windows error " + code + ")"};
    }
    const std::string bus = bus_name(std::get<DiskFacts>(probe).bus_type);
    switch (refusal) {
    case Refusal::BootMedium:
        return {"它是本机启动所用的 " + bus + " 介质", "it is the " + bus + " medium this PC booted from"};
    case Refusal::Bus: return {"它连接在 " + bus + " 总线上", "it is on the " + bus + " bus"};
    case Refusal::RemovableMedia: return {"它是可移动介质", "it has removable media"};
    case Refusal::TooSmall: return {"它小于 32 GB，装不下 Windows", "it is smaller than 32 GB, too small for Windows"};
    default: return {"", ""};
    }
}

Both next_step(Refusal refusal) {
    switch (refusal) {
    case Refusal::CannotBeChecked:
        return {
            "请在命令提示符下用 diskpart 的 list disk 检查（没有磁盘：在映像中加入存储驱动或将控制器设为 "
            "AHCI），然后重启。",
            "Check it at the prompt with diskpart, list disk (no disk: add its storage driver to the image or set "
            "the controller to AHCI), then restart."};
    case Refusal::BootMedium:
        return {"请改用网络或光盘启动本机，或在固件设置中让系统盘成为磁盘 0，然后重启。",
                "Boot this PC from the network or a DVD instead, or make its system disk disk 0 in the firmware "
                "settings, then restart."};
    default:
        return {
            "请拔下它或让系统盘成为磁盘 0，然后重启；若确要部署到该磁盘，请用 winpe-inject --override-disk-guard（见 "
            "README）。",
            "Unplug it or make the system disk disk 0, then restart; to deploy onto it on purpose, use "
            "winpe-inject --override-disk-guard (see the README)."};
    }
}

// "磁盘 0（Samsung SSD 970 EVO，NVMe，500.1 GB）" / "Disk 0 (Samsung SSD 970 EVO, NVMe, 500.1 GB)"
Both disk_name(const DiskProbe& probe) {
    const auto* facts = std::get_if<DiskFacts>(&probe);
    if (facts == nullptr) return {"磁盘 0 ", "Disk 0"};
    const std::string number = std::to_string(facts->number);
    std::string model = facts->vendor;
    if (!model.empty() && !facts->product.empty()) model += ' ';
    model += facts->product;
    const std::string bus = bus_name(facts->bus_type);
    const std::string size = size_text(facts->size_bytes);
    return {"磁盘 " + number + "（" + (model.empty() ? "未命名" : model) + "，" + bus + "，" + size + "）",
            "Disk " + number + " (" + (model.empty() ? "unnamed" : model) + ", " + bus + ", " + size + ")"};
}

}  // namespace

std::string size_text(std::uint64_t bytes) {
    constexpr std::uint64_t kGigabyte = 1'000'000'000;
    if (bytes < kGigabyte) return std::to_string(bytes / 1'000'000) + " MB";
    return std::to_string(bytes / kGigabyte) + "." + std::to_string(bytes % kGigabyte / 100'000'000) + " GB";
}

std::string decision_line(const DiskProbe& probe, const Verdict& verdict) {
    const Both disk = disk_name(probe);
    if (verdict.refusal == Refusal::None) return disk.zh + "将被清除。" + disk.en + " will be wiped.";
    const Both why = reason(probe, verdict.refusal);
    if (verdict.wipe) {
        return disk.zh + "将被清除：虽然" + why.zh + "，但本映像带有覆盖标记（winpe-inject --override-disk-guard）。" +
               disk.en + " will be wiped although " + why.en +
               ": this image carries the override (winpe-inject --override-disk-guard).";
    }
    const Both next = next_step(verdict.refusal);
    return disk.zh + "不会被清除：" + why.zh + "。" + next.zh + disk.en + " will NOT be wiped: " + why.en + ". " +
           next.en;
}

}  // namespace autodeploy::guard
