#pragma once
// Removing the received image once it has been applied (Win32).
#include <string_view>

#include "deployment_platform.hpp"

namespace autodeploy {

// Absent when the file's metadata cannot be read at all. A read-only file is deleted too.
Result<ImageRemoval> remove_file_if_present(std::string_view path);

}  // namespace autodeploy
