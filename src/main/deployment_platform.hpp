#pragma once
// Everything the deployment does to the outside world, so the stage sequence itself needs no
// operating system: the Win32 implementation runs it for real, tests run it against a recorder.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/result.hpp"
#include "tools/tool_runner.hpp"

namespace autodeploy {

enum class ImageRemoval { Removed, Absent };

class DeploymentPlatform {
public:
    virtual ~DeploymentPlatform() = default;

    // One line of our own on standard output.
    virtual void print_line(std::string_view line) = 0;

    virtual void run_ignoring(std::string_view program, const std::vector<std::string>& arguments) = 0;
    virtual Status run_tool(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode) = 0;
    virtual Result<std::string> stage_file(std::string_view file_name, std::string_view bytes) = 0;

    // "PEFirmwareType" as a REG_DWORD; nothing when it cannot be read as one.
    virtual std::optional<std::uint32_t> read_firmware_type() = 0;

    // Deletes the received image if it is there, read-only or not.
    virtual Result<ImageRemoval> remove_image(std::string_view path) = 0;
};

}  // namespace autodeploy
