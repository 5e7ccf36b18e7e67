#pragma once
// Runs the programs that do the deployment's work: one at a time, always waited for.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace autodeploy {

enum class OutputMode {
    Quiet,  // the child's standard output and error go to the null device
    Shown,  // the child writes to this process's own standard output and error
};

// Runs `program` (a bare name, searched for, or a path) with `arguments` and waits for it without
// a time limit. Success is exit code 0; anything else is a tool error naming the program.
Status run_tool(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode);

// As run_tool, but a tool that ran gives its exit code, whatever it is: an error only when it could not run.
Result<std::uint32_t> run_to_exit(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode);

// As run_tool with all three standard streams inherited, but every outcome is discarded.
void run_ignoring(std::string_view program, const std::vector<std::string>& arguments);

}  // namespace autodeploy
