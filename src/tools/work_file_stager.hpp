#pragma once
// Writes the input files that the tools read into the temporary directory.
#include <string>
#include <string_view>

#include "result.hpp"

namespace autodeploy {

// Writes `bytes` to `file_name` in the temporary directory, replacing any earlier content but
// keeping an existing file's attributes, and gives the file's full path.
Result<std::string> stage_file(std::string_view file_name, std::string_view bytes);

}  // namespace autodeploy
