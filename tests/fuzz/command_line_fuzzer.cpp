// Command lines built by build_command_line must split back, under the C runtime's rules, into
// exactly the program and arguments given.
//
// Input: the arguments, separated by NUL bytes (arguments never hold NUL; an empty input is no
// argument at all, "\0" is two empty ones). Each input is checked twice: with the program "prog",
// and, when the first piece holds no double quote, with that piece as the program (it may hold
// spaces, tabs and backslashes) and the rest as the arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "msvcrt_argv.hpp"
#include "tools/command_line.hpp"

namespace {

using autodeploy::fuzz::escaped;
using autodeploy::fuzz::property_failed;

std::vector<std::string> split_at_nul(std::string_view data) {
    std::vector<std::string> pieces;
    if (data.empty()) return pieces;
    for (;;) {
        const std::size_t end = data.find('\0');
        pieces.emplace_back(data.substr(0, end));
        if (end == std::string_view::npos) break;
        data.remove_prefix(end + 1);
    }
    return pieces;
}

void check_round_trip(std::string_view program, const std::vector<std::string>& arguments) {
    const std::string line = autodeploy::build_command_line(program, arguments);
    const autodeploy::fuzz::ParsedCommandLine parsed = autodeploy::fuzz::parse_msvcrt_command_line(line);
    if (parsed.program != program || !parsed.program_well_separated || parsed.arguments != arguments) {
        property_failed("the C runtime reads back the program and arguments given",
                        {{"program", escaped(program)},
                         {"arguments", escaped(arguments)},
                         {"command line", escaped(line)},
                         {"read program", escaped(parsed.program)},
                         {"read arguments", escaped(parsed.arguments)}});
    }
}

// An argument that needs neither quotes nor escapes goes in as it is.
void check_plain_arguments_verbatim(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument.find_first_of(" \t\"") != std::string::npos) continue;
        std::string appended = "x";
        autodeploy::append_argument(appended, argument);
        if (std::string_view{appended}.substr(1) != argument) {
            property_failed("an argument without space, tab or quote is written unchanged",
                            {{"argument", escaped(argument)}, {"written", escaped(appended.substr(1))}});
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> pieces = split_at_nul({reinterpret_cast<const char*>(data), size});

    check_round_trip("prog", pieces);
    check_plain_arguments_verbatim(pieces);

    if (!pieces.empty() && pieces.front().find('"') == std::string::npos) {
        check_round_trip(pieces.front(), {pieces.begin() + 1, pieces.end()});
    }
    return 0;
}
