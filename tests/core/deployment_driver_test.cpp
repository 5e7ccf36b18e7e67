// The stage sequence against a recording platform, where the boot files go, and which read
// decides the image is there.
#include "main/deployment_driver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "configured_web_address.hpp"
#include "main/image_presence.hpp"
#include "partition_scripts.hpp"

namespace autodeploy {
namespace {

// Records everything the driver asks of the system, in one journal, and fails where told.
class RecordingPlatform final : public DeploymentPlatform {
public:
    std::vector<std::string> journal;
    std::map<std::string, std::string> staged;  // file name -> bytes
    std::optional<std::uint32_t> firmware_type;
    std::map<std::string, DeployError> failing;  // journal entry -> the error its call gives
    ImageRemoval removal = ImageRemoval::Removed;

    void print_line(std::string_view line) override { journal.push_back("print " + std::string{line}); }
    void run_ignoring(std::string_view program, const std::vector<std::string>& arguments) override {
        journal.push_back("ignoring " + call(program, arguments));
    }
    Status run_tool(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode) override {
        const auto error = record((mode == OutputMode::Quiet ? "quiet " : "shown ") + call(program, arguments));
        return error ? Status{*error} : Status{};
    }
    Result<std::string> stage_file(std::string_view file_name, std::string_view bytes) override {
        if (auto error = record("stage " + std::string{file_name})) return *error;
        staged[std::string{file_name}] = std::string{bytes};
        return "T:\\tmp dir\\" + std::string{file_name};
    }
    std::optional<std::uint32_t> read_firmware_type() override {
        journal.push_back("read firmware");
        return firmware_type;
    }
    Result<ImageRemoval> remove_image(std::string_view path) override {
        if (auto error = record("remove " + std::string{path})) return *error;
        return removal;
    }

private:
    static std::string call(std::string_view program, const std::vector<std::string>& arguments) {
        std::string text{program};
        for (const std::string& argument : arguments) text += " [" + argument + "]";
        return text;
    }
    std::optional<DeployError> record(const std::string& entry) {
        journal.push_back(entry);
        const auto found = failing.find(entry);
        return found == failing.end() ? std::nullopt : std::optional<DeployError>{found->second};
    }
};

constexpr std::string_view kReceiver = "MZ receiver bytes";
const std::string kReceiverCall = "shown T:\\tmp dir\\udp-receiver.exe [--file] [C:\\system.wim] [--nokbd]";

std::vector<std::string> successful_run(bool uefi, const std::string& l) {
    const std::string f = uefi ? "UEFI" : "Legacy BIOS", s = uefi ? "GPT" : "MBR", b = uefi ? "UEFI" : "BIOS";
    return {
        "print ==============================================",
        "print Veskaro — WinPE 自动部署工具",
        "print 访问官网获取最新版本：" + std::string{configured::kWebAddress},
        "print ==============================================",
        "ignoring wpeutil [UpdateBootInfo]",
        "read firmware",
        "print [INFO] 检测到 " + f + " 固件",
        "print [INFO] 正在将磁盘格式化为 " + s + " 格式",
        "stage prep_disk.txt",
        "quiet diskpart [/s] [T:\\tmp dir\\prep_disk.txt]",
        "print [INFO] 等待网络发送 system.wim ...",
        "stage udp-receiver.exe",
        kReceiverCall,
        "print [INFO] system.wim 已接收，开始写入磁盘 ...",
        "shown dism [/Apply-Image] [/ImageFile:C:\\system.wim] [/Index:1] [/ApplyDir:C:\\]",
        "print 写入完成，正在修复引导…",
        "quiet bcdboot [C:\\Windows] [/s] [" + l + "] [/f] [" + b + "]",
        "remove C:\\system.wim",
        "print 已删除临时镜像 C:\\system.wim",
        "print [SUCCESS] 部署完成，系统即将重启 ...",
        "quiet wpeutil [reboot]",
    };
}

// The letter a staged layout script gives the partition the firmware boots from: the EFI system
// partition (GPT) or the active one (MBR).
std::string boot_partition_letter(const std::string& script) {
    std::istringstream lines(script);
    bool boots = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("create partition")) boots = line.starts_with("create partition efi");
        if (line.starts_with("active")) boots = true;
        if (boots && line.starts_with("assign letter=")) return line.substr(14, 1) + ":";
    }
    return "no letter";
}

TEST(DeploymentDriver, FirmwareDecidesLayoutScriptAndBootTarget) {
    const struct {
        std::optional<std::uint32_t> firmware_type;
        bool uefi;
    } cases[] = {{2u, true}, {1u, false}, {0u, false}, {3u, false}, {0xFFFFFFFFu, false}, {std::nullopt, false}};
    for (const auto& c : cases) {
        RecordingPlatform platform;
        platform.firmware_type = c.firmware_type;
        ASSERT_TRUE(run_deployment(platform, kReceiver).ok());
        // bcdboot's /s: the letter that the script staged gave the partition the firmware boots from.
        const std::string letter = boot_partition_letter(platform.staged["prep_disk.txt"]);
        EXPECT_EQ(platform.journal, successful_run(c.uefi, letter)) << c.firmware_type.value_or(12345);
        EXPECT_EQ(platform.staged["prep_disk.txt"],
                  c.uefi ? std::string{generated::kGptScript} : std::string{generated::kMbrScript});
        EXPECT_EQ(platform.staged["udp-receiver.exe"], kReceiver);
    }
}

TEST(DeploymentDriver, MissingImageIsReportedAndTheRunStillRestarts) {
    RecordingPlatform platform;
    platform.removal = ImageRemoval::Absent;
    ASSERT_TRUE(run_deployment(platform, kReceiver).ok());
    std::vector<std::string> expected = successful_run(false, "C:");
    expected[18] = "print 未找到临时镜像（可能已被移除）";
    EXPECT_EQ(platform.journal, expected);
}

// The first failure ends the run with that error: the journal stops at the entry that failed (a
// failed restart comes after the success line).
TEST(DeploymentDriver, FirstFailureEndsTheRunWithThatError) {
    const DeployError tool_error = DeployError::tool(0x80004005, "x failed: ExitStatus(ExitStatus(1))");
    const struct {
        std::string failing_entry;
        DeployError error;
    } cases[] = {
        {"quiet diskpart [/s] [T:\\tmp dir\\prep_disk.txt]", tool_error},
        {kReceiverCall, tool_error},
        {"shown dism [/Apply-Image] [/ImageFile:C:\\system.wim] [/Index:1] [/ApplyDir:C:\\]", tool_error},
        {"quiet bcdboot [C:\\Windows] [/s] [C:] [/f] [BIOS]", tool_error},
        {"quiet wpeutil [reboot]", tool_error},
        {"stage prep_disk.txt", DeployError::file(5, "Access is denied.")},
        {"remove C:\\system.wim", DeployError::file(32, "In use.")},
    };
    for (const auto& c : cases) {
        RecordingPlatform platform;
        platform.failing.emplace(c.failing_entry, c.error);
        const Status status = run_deployment(platform, kReceiver);
        ASSERT_FALSE(status.ok()) << c.failing_entry;
        EXPECT_EQ(status.error().render(), c.error.render());
        std::vector<std::string> journal = successful_run(false, "C:");
        const auto last = std::find(journal.begin(), journal.end(), c.failing_entry);
        ASSERT_NE(last, journal.end()) << c.failing_entry;
        journal.erase(last + 1, journal.end());
        EXPECT_EQ(platform.journal, journal) << c.failing_entry;
    }
}

// System codes: 5 access denied, 32 sharing violation, 1920 cannot access file. Each row is a
// way a wrong answer could come about: a locked image, or a link whose target is gone.
TEST(ImageCountsAsPresent, WhichReadAnswers) {
    using Outcome = FollowedRead::Outcome;
    const struct {
        const char* what;
        FollowedRead read;
        bool directory_entry_found;
        EntryItself entry_itself;
        bool expected;
    } cases[] = {
        {"open 1920, entry itself a regular file", {Outcome::OpenFailed, 1920}, false, EntryItself::Readable, true},
        {"query 1920, entry itself a link", {Outcome::QueryFailed, 1920}, true, EntryItself::NameSurrogateLink, false},
        {"open sharing violation, directory entry", {Outcome::OpenFailed, 32}, true, EntryItself::Unreadable, true},
        {"open sharing violation, no entry", {Outcome::OpenFailed, 32}, false, EntryItself::Readable, false},
        {"query access denied", {Outcome::QueryFailed, 5}, true, EntryItself::Readable, false},
    };
    for (const auto& c : cases) {
        const PresenceFallbacks fallbacks{[&] { return c.directory_entry_found; }, [&] { return c.entry_itself; }};
        EXPECT_EQ(image_counts_as_present(c.read, fallbacks), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace autodeploy
