#include "deploy_error.hpp"

#include "support/hex.hpp"

namespace autodeploy {

DeployError DeployError::file(std::uint32_t system_code, std::string message, Backtrace trace) {
    return {Kind::File, system_code, true, std::move(message), std::move(trace)};
}

DeployError DeployError::file_text(std::string text, Backtrace trace) {
    return {Kind::File, 0, false, std::move(text), std::move(trace)};
}

DeployError DeployError::tool(std::uint32_t result_code, std::string message, Backtrace trace) {
    return {Kind::Tool, result_code, true, std::move(message), std::move(trace)};
}

std::string DeployError::render() const {
    if (kind_ == Kind::File) {
        if (!has_code_) return message_;
        return message_ + " (os error " + std::to_string(code_) + ")";
    }
    if (message_.empty()) return format_result_code(code_);
    return message_ + " (" + format_result_code(code_) + ")";
}

std::string format_result_code(std::uint32_t code) { return "0x" + hex_digits(code, 8, true); }

std::string trim_trailing_blanks(std::string text) {
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

std::string missing_message_text(std::uint32_t code, std::uint32_t lookup_error) {
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " + std::to_string(lookup_error) +
           ")";
}

std::string invalid_message_text(std::uint32_t code) {
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned invalid UTF-16)";
}

std::uint32_t result_code_from_system_code(std::uint32_t system_code) {
    if (static_cast<std::int32_t>(system_code) <= 0) return system_code;
    return 0x80070000u | (system_code & 0xFFFFu);
}

DeployError tool_start_error(std::string_view program, std::uint32_t result_code, std::string_view why,
                             Backtrace trace) {
    std::string text{program};
    if (!text.empty()) text += ": ";
    return DeployError::tool(result_code, text.append(why), std::move(trace));
}

DeployError tool_not_found_error(std::string_view program, Backtrace trace) {
    return tool_start_error(program, kToolNotStarted, "program not found", std::move(trace));
}

DeployError tool_exit_error(std::string_view program, std::uint32_t exit_code, const DescribeFailure& describe,
                            Backtrace trace) {
    std::string text = std::string{program} + " failed: ExitStatus(ExitStatus(" + std::to_string(exit_code) + "))";
    // The platform's description wins where it has one; our own text is never lost.
    std::optional<std::string> description = describe(kToolFailed, text);
    return DeployError::tool(kToolFailed, description ? trim_trailing_blanks(std::move(*description)) : std::move(text),
                             std::move(trace));
}

}  // namespace autodeploy
