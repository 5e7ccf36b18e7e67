#pragma once
// Writes UTF-8 text to standard output or standard error as the user will see it, in the form
// console_encoding.hpp decides: UTF-16 through WriteConsoleW, or the bytes unchanged.
#include <string_view>

namespace autodeploy {

enum class StandardStream { Output, Error };
enum class WriteOutcome { Written, NoHandle, Failed };

WriteOutcome write_text(StandardStream stream, std::string_view utf8);

}  // namespace autodeploy
