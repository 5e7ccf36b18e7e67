// The disk 0 guard without a disk: its decision and the line it prints, for every reason.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "guard/decision_line.hpp"
#include "guard/wipe_decision.hpp"

namespace autodeploy::guard {
namespace {

constexpr std::uint32_t kNvme = 17, kSata = 11;
const DiskFacts kSystemDisk{0, kNvme, false, "", "Samsung SSD 970 EVO", 500'107'862'016, false};

DiskFacts with(auto change) {
    DiskFacts facts = kSystemDisk;
    change(facts);
    return facts;
}

const DiskProbe kStick = DiskFacts{0, kBusUsb, true, "SanDisk", "Cruzer Blade", 16'008'609'792, true};
const DiskProbe kUsbDisk = with([](DiskFacts& d) { d.bus_type = kBusUsb; });
const DiskProbe kSdCard = with([](DiskFacts& d) { d.bus_type = kBusSd; });
const DiskProbe kRemovable = with([](DiskFacts& d) { d.removable_media = true; });
const DiskProbe kOptane = DiskFacts{0, kNvme, false, "", "INTEL MEMPEK1W016GA", 14'403'239'936, false};
const DiskProbe kUnreadable = ProbeFailure{ProbeStep::OpenDisk, 2};

TEST(WipeDecision, RefusesEveryDoubtfulDiskAndOnlyTheBootMediumDespiteTheOverride) {
    const struct {
        const char* what;
        DiskProbe probe;
        Refusal refusal;
    } cases[] = {
        {"system disk", kSystemDisk, Refusal::None},
        {"exactly the minimum", with([](DiskFacts& d) { d.size_bytes = kMinimumDiskBytes; }), Refusal::None},
        {"cannot be checked", kUnreadable, Refusal::CannotBeChecked},
        {"cannot read the volumes", ProbeFailure{ProbeStep::VolumeDisks, 1}, Refusal::CannotBeChecked},
        {"boot medium first of all", kStick, Refusal::BootMedium},
        {"boot medium on SATA", with([](DiskFacts& d) { d.bus_type = kSata, d.holds_boot_medium = true; }),
         Refusal::BootMedium},
        {"USB", kUsbDisk, Refusal::Bus},
        {"SD", kSdCard, Refusal::Bus},
        {"MMC", with([](DiskFacts& d) { d.bus_type = kBusMmc; }), Refusal::Bus},
        {"1394", with([](DiskFacts& d) { d.bus_type = kBus1394; }), Refusal::Bus},
        {"removable media", kRemovable, Refusal::RemovableMedia},
        {"a byte too small", with([](DiskFacts& d) { d.size_bytes = kMinimumDiskBytes - 1; }), Refusal::TooSmall},
        {"cache module", kOptane, Refusal::TooSmall},
    };
    for (const auto& c : cases) {
        const Verdict plain = decide(c.probe, false), overridden = decide(c.probe, true);
        EXPECT_EQ((std::tuple{plain.refusal, overridden.refusal, plain.wipe, overridden.wipe}),
                  (std::tuple{c.refusal, c.refusal, c.refusal == Refusal::None, c.refusal != Refusal::BootMedium}))
            << c.what;
    }
}

TEST(DecisionLine, NamesTheDiskSaysWhyAndWhatToDoNext) {
    const auto refused = [](const std::string& disk_zh, const std::string& why_zh, const std::string& disk,
                            const std::string& why) {
        return disk_zh + "不会被清除：" + why_zh +
               "。请拔下它或让系统盘成为磁盘 0，然后重启；若确要部署到该磁盘，请用 winpe-inject "
               "--override-disk-guard（见 README）。" +
               disk + " will NOT be wiped: " + why +
               ". Unplug it or make the system disk disk 0, then restart; to deploy onto it on purpose, use "
               "winpe-inject --override-disk-guard (see the README).";
    };
    const std::string override = "但本映像带有覆盖标记（winpe-inject --override-disk-guard）。",
                      override_en = ": this image carries the override (winpe-inject --override-disk-guard).";
    const std::string nvme_zh = "磁盘 0（Samsung SSD 970 EVO，NVMe，500.1 GB）",
                      nvme = "Disk 0 (Samsung SSD 970 EVO, NVMe, 500.1 GB)";
    const struct {
        DiskProbe probe;
        bool override_marker;
        std::string expected;
    } cases[] = {
        {kSystemDisk, false, nvme_zh + "将被清除。" + nvme + " will be wiped."},
        {kStick, true,
         "磁盘 0（SanDisk Cruzer Blade，USB，16.0 GB）不会被清除：它是本机启动所用的 USB 介质。请改用网络或光盘启"
         "动本机，或在固件设置中让系统盘成为磁盘 0，然后重启。Disk 0 (SanDisk Cruzer Blade, USB, 16.0 GB) will NOT "
         "be wiped: it is the USB medium this PC booted from. Boot this PC from the network or a DVD instead, or "
         "make its system disk disk 0 in the firmware settings, then restart."},
        {kSdCard, false,
         refused("磁盘 0（Samsung SSD 970 EVO，SD，500.1 GB）", "它连接在 SD 总线上",
                 "Disk 0 (Samsung SSD 970 EVO, SD, 500.1 GB)", "it is on the SD bus")},
        {kRemovable, false, refused(nvme_zh, "它是可移动介质", nvme, "it has removable media")},
        {kOptane, false,
         refused("磁盘 0（INTEL MEMPEK1W016GA，NVMe，14.4 GB）", "它小于 32 GB，装不下 Windows",
                 "Disk 0 (INTEL MEMPEK1W016GA, NVMe, 14.4 GB)", "it is smaller than 32 GB, too small for Windows")},
        {kUnreadable, false,
         "磁盘 0 不会被清除：无法检查它（打开 \\\\.\\PhysicalDrive0失败，Windows 错误 2）。请在命令提示符下用 "
         "diskpart 的 list disk 检查（没有磁盘：在映像中加入存储驱动或将控制器设为 AHCI），然后重启。Disk 0 will "
         "NOT be wiped: it cannot be checked (opening \\\\.\\PhysicalDrive0 failed: Windows error 2). Check it "
         "at the prompt with diskpart, list disk (no disk: add its storage driver to the image or set the "
         "controller to AHCI), then restart."},
        {kUsbDisk, true,
         "磁盘 0（Samsung SSD 970 EVO，USB，500.1 GB）将被清除：虽然它连接在 USB 总线上，" + override +
             "Disk 0 (Samsung SSD 970 EVO, USB, 500.1 GB) will be wiped although it is on the USB bus" + override_en},
        {ProbeFailure{ProbeStep::Size, 50}, true,
         "磁盘 0 将被清除：虽然无法检查它（读取大小失败，Windows 错误 50），" + override +
             "Disk 0 will be wiped although it cannot be checked (reading its size failed: Windows error 50)" +
             override_en},
    };
    for (const auto& c : cases) EXPECT_EQ(decision_line(c.probe, decide(c.probe, c.override_marker)), c.expected);
}

TEST(DecisionLine, BusNamesSizesAndDescriptorTexts) {
    EXPECT_EQ((std::vector<std::string>{bus_name(kBusUsb), bus_name(kBus1394), bus_name(kBusMmc), bus_name(kSata),
                                        bus_name(kNvme), bus_name(0), bus_name(20)}),
              (std::vector<std::string>{"USB", "1394", "MMC", "SATA", "NVMe", "unknown bus", "bus type 20"}));
    EXPECT_EQ((std::vector<std::string>{size_text(999'999'999), size_text(1'000'000'000), size_text(31'999'999'999),
                                        size_text(2'000'398'934'016)}),
              (std::vector<std::string>{"999 MB", "1.0 GB", "31.9 GB", "2000.3 GB"}));
    const std::string bytes("XXXX  ATA     \0Samsung\x01\xFFSSD\0tail", 32);
    const std::vector<std::byte> descriptor(reinterpret_cast<const std::byte*>(bytes.data()),
                                            reinterpret_cast<const std::byte*>(bytes.data()) + bytes.size());
    EXPECT_EQ((std::vector<std::string>{descriptor_text(descriptor, 4), descriptor_text(descriptor, 15),
                                        descriptor_text(descriptor, 0), descriptor_text(descriptor, 28),
                                        descriptor_text(descriptor, 99), descriptor_text(descriptor, 14)}),
              (std::vector<std::string>{"ATA", "SamsungSSD", "", "tail", "", ""}));
}

}  // namespace
}  // namespace autodeploy::guard
