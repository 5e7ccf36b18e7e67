#pragma once
// Writes UTF-8 text to standard output or standard error as the user will see it: through
// WriteConsoleW on a console whose code page is not UTF-8, as bytes to a file, pipe or UTF-8
// console. The console's code page is never changed.
#include <string_view>

namespace autodeploy {

enum class StandardStream { Output, Error };
enum class WriteOutcome { Written, NoHandle, Failed };

WriteOutcome write_text(StandardStream stream, std::string_view utf8);

}  // namespace autodeploy
