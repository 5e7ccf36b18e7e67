// The deployment against the real system.
#include "deployment_driver.hpp"
#include "firmware_registry.hpp"
#include "image_removal.hpp"
#include "internal_fault.hpp"
#include "receiver_image.hpp"
#include "support/console_writer.hpp"
#include "tools/work_file_stager.hpp"

namespace autodeploy {

namespace {

class Win32Platform final : public DeploymentPlatform {
public:
    void print_line(std::string_view line) override {
        std::string text{line};
        text.push_back('\n');
        // With no standard output at all the lines are dropped; a failing one is a fault.
        if (write_text(StandardStream::Output, text) == WriteOutcome::Failed) {
            internal_fault("cannot write to standard output");
        }
    }
    void run_ignoring(std::string_view program, const std::vector<std::string>& arguments) override {
        autodeploy::run_ignoring(program, arguments);
    }
    Status run_tool(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode) override {
        return autodeploy::run_tool(program, arguments, mode);
    }
    Result<std::string> stage_file(std::string_view file_name, std::string_view bytes) override {
        return autodeploy::stage_file(file_name, bytes);
    }
    std::optional<std::uint32_t> read_firmware_type() override { return read_pe_firmware_type(); }
    Result<ImageRemoval> remove_image(std::string_view path) override { return remove_file_if_present(path); }
};

}  // namespace

Status run_deployment() {
    Win32Platform platform;
    return run_deployment(platform, receiver_image());
}

}  // namespace autodeploy
