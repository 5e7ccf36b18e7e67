#include "command_line.hpp"

namespace autodeploy {

void append_argument(std::string& command_line, std::string_view argument) {
    const bool quote = argument.empty() || argument.find_first_of(" \t") != std::string_view::npos;
    if (quote) command_line.push_back('"');
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') command_line.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        command_line.push_back(c);
    }
    if (quote) {
        command_line.append(backslashes, '\\');
        command_line.push_back('"');
    }
}

std::string build_command_line(std::string_view program, const std::vector<std::string>& arguments) {
    std::string command_line;
    command_line.reserve(program.size() + 3 + arguments.size() * 8);
    command_line.push_back('"');
    command_line.append(program);
    command_line.push_back('"');
    for (const std::string& argument : arguments) {
        command_line.push_back(' ');
        append_argument(command_line, argument);
    }
    return command_line;
}

}  // namespace autodeploy
