#include "deployment_driver.hpp"

#include <string>

#include "firmware.hpp"
#include "scrambled/scrambled_text_store.hpp"

namespace autodeploy {

namespace {

constexpr std::string_view kRule = "==============================================";
constexpr std::string_view kScriptFileName = "prep_disk.txt";
constexpr std::string_view kReceiverFileName = "udp-receiver.exe";

std::string concat(std::string_view a, std::string_view b, std::string_view c = {}) {
    std::string text;
    text.reserve(a.size() + b.size() + c.size());
    return text.append(a).append(b).append(c);
}

void print_banner(DeploymentPlatform& platform) {
    platform.print_line(kRule);
    platform.print_line("Veskaro — WinPE 自动部署工具");
    platform.print_line(concat("访问官网获取最新版本：", get(CachedEntry::WEB_ADDRESS)));
    platform.print_line(kRule);
}

// Stage 3: the firmware decides the disk layout and the boot-file target for the rest of the run.
const FirmwareLayout& detect_firmware(DeploymentPlatform& platform) {
    const FirmwareLayout& layout = layout_for_firmware_type(platform.read_firmware_type());
    platform.print_line(concat("[INFO] 检测到 ", layout.firmware_label, " 固件"));
    platform.print_line(concat("[INFO] 正在将磁盘格式化为 ", layout.style_label, " 格式"));
    return layout;
}

Status prepare_disk(DeploymentPlatform& platform, const FirmwareLayout& layout) {
    const std::string script = decode(stored_bytes(layout.script));
    Result<std::string> script_path = platform.stage_file(kScriptFileName, script);
    if (!script_path.ok()) return std::move(script_path).error();
    return platform.run_tool(get(CachedEntry::PARTITION_TOOL), {"/s", std::move(script_path).value()},
                             OutputMode::Quiet);
}

// Blocks, without a time limit, until the receiver exits; its exit code 0 means the image is whole.
Status receive_image(DeploymentPlatform& platform, std::string_view receiver_image) {
    Result<std::string> receiver = platform.stage_file(kReceiverFileName, receiver_image);
    if (!receiver.ok()) return std::move(receiver).error();
    return platform.run_tool(receiver.value(), {"--file", std::string{kImagePath}, "--nokbd"}, OutputMode::Shown);
}

Status apply_image(DeploymentPlatform& platform) {
    return platform.run_tool(get(CachedEntry::IMAGE_TOOL),
                             {"/Apply-Image", concat("/ImageFile:", kImagePath), "/Index:1", "/ApplyDir:C:\\"},
                             OutputMode::Shown);
}

Status write_boot_files(DeploymentPlatform& platform, const FirmwareLayout& layout) {
    return platform.run_tool(
        get(CachedEntry::BOOT_TOOL),
        {"C:\\Windows", "/s", std::string{layout.system_partition}, "/f", std::string{layout.boot_firmware}},
        OutputMode::Quiet);
}

Status remove_image(DeploymentPlatform& platform) {
    Result<ImageRemoval> removal = platform.remove_image(kImagePath);
    if (!removal.ok()) return std::move(removal).error();
    if (removal.value() == ImageRemoval::Absent) {
        platform.print_line("未找到临时镜像（可能已被移除）");
    } else {
        platform.print_line(concat("已删除临时镜像 ", kImagePath));
    }
    return {};
}

}  // namespace

Status run_deployment(DeploymentPlatform& platform, std::string_view receiver_image) {
    // 1. Banner.
    print_banner(platform);
    // 2. Refresh the firmware information; whatever happens, the run goes on.
    platform.run_ignoring(get(CachedEntry::PE_UTILITY), {"UpdateBootInfo"});
    // 3. Firmware and partition style.
    const FirmwareLayout& layout = detect_firmware(platform);
    // 4. Repartition disk 0.
    if (Status status = prepare_disk(platform, layout); !status.ok()) return status;
    // 5 and 6. Receive the image.
    platform.print_line("[INFO] 等待网络发送 system.wim ...");
    if (Status status = receive_image(platform, receiver_image); !status.ok()) return status;
    // 7. Apply image 1.
    platform.print_line("[INFO] system.wim 已接收，开始写入磁盘 ...");
    if (Status status = apply_image(platform); !status.ok()) return status;
    // 8. Boot files.
    platform.print_line("写入完成，正在修复引导…");
    if (Status status = write_boot_files(platform, layout); !status.ok()) return status;
    // 9. Remove the received image.
    if (Status status = remove_image(platform); !status.ok()) return status;
    // 10. Restart.
    platform.print_line("[SUCCESS] 部署完成，系统即将重启 ...");
    return platform.run_tool(get(CachedEntry::PE_UTILITY), {"reboot"}, OutputMode::Quiet);
}

}  // namespace autodeploy
