#pragma once
// DeployError: the one error value of a deployment run. It is made where the failure happens,
// passed up unchanged and rendered to text only by the process entry.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/backtrace.hpp"

namespace autodeploy {

class DeployError {
public:
    // A failed file operation: the system's code and its message text (already looked up).
    static DeployError file(std::uint32_t system_code, std::string message, Backtrace trace = {});
    // A file failure that has no system code, such as "failed to write whole buffer".
    static DeployError file_text(std::string text, Backtrace trace = {});
    // A tool that could not start, could not be waited for, or exited non-zero: a 32-bit
    // result code and the message text that explains it (may be empty).
    static DeployError tool(std::uint32_t result_code, std::string message, Backtrace trace = {});

    const Backtrace& backtrace() const { return backtrace_; }

    // File error: "message (os error 5)", or the fixed text alone.
    // Tool error: "message (0x80004005)", or "0x80004005" alone when the message is empty.
    std::string render() const;

private:
    enum class Kind { File, Tool };

    DeployError(Kind kind, std::uint32_t code, bool has_code, std::string message, Backtrace trace)
        : kind_(kind), code_(code), has_code_(has_code), message_(std::move(message)), backtrace_(std::move(trace)) {}

    Kind kind_;
    std::uint32_t code_;
    bool has_code_;
    std::string message_;
    Backtrace backtrace_;
};

// "0x" and eight upper-case hexadecimal digits.
std::string format_result_code(std::uint32_t code);

// Removes trailing spaces, tabs and line breaks, as system message texts end in them.
std::string trim_trailing_blanks(std::string text);

// Message texts for a system code that has no message of its own.
std::string missing_message_text(std::uint32_t code, std::uint32_t lookup_error);
std::string invalid_message_text(std::uint32_t code);

// The result codes of the tool errors that carry no system code.
inline constexpr std::uint32_t kToolNotStarted = 0x8000FFFFu;  // E_UNEXPECTED: no program to start
inline constexpr std::uint32_t kToolFailed = 0x80004005u;      // E_FAIL: it ran and exited non-zero

// The platform's description of a failure's text registered under a result code, or nothing.
using DescribeFailure = std::function<std::optional<std::string>(std::uint32_t result_code, std::string_view text)>;

// A tool that cannot be started: "program: why", or `why` alone when the program text is empty.
// `result_code` is kToolNotStarted, or result_code_from_system_code of the failed call.
DeployError tool_start_error(std::string_view program, std::uint32_t result_code, std::string_view why,
                             Backtrace trace = {});
// "program: program not found" under kToolNotStarted.
DeployError tool_not_found_error(std::string_view program, Backtrace trace = {});
// A tool that exited non-zero: "program failed: ExitStatus(ExitStatus(N))" under kToolFailed, or
// the platform's description of that text, trailing blanks removed, where it gives one.
DeployError tool_exit_error(std::string_view program, std::uint32_t exit_code, const DescribeFailure& describe,
                            Backtrace trace = {});

// A system error code as a result code: 0x80070000 with the code's low 16 bits. Codes that are
// 0 or negative as signed 32-bit numbers are already result codes and stay unchanged.
std::uint32_t result_code_from_system_code(std::uint32_t system_code);

}  // namespace autodeploy
