#pragma once
// Our own reading of a Windows command line the way the Microsoft C runtime splits it into argv,
// written from the runtime's documented rules and kept apart from the code that builds command
// lines, so the fuzzer can hold one against the other.
//
// The program name (first token): when it starts with a double quote it runs to the next double
// quote (or the end), with no backslash handling; otherwise it runs to the first space or tab.
// After it come the arguments, separated by spaces and tabs outside quotes:
//   - 2n backslashes then a quote: n backslashes, and the quote opens or closes quoting;
//   - 2n+1 backslashes then a quote: n backslashes and a literal quote;
//   - backslashes not followed by a quote are literal;
//   - inside quotes, a pair "" (not escaped) is one literal quote and quoting goes on. This is the
//     runtime's rule since 2008 (older runtimes closed quoting after the pair). Our builder never
//     writes "" inside a quoted argument, so the two rules agree on everything it produces.
// The bytes are read as they are: spaces, tabs, quotes and backslashes are ASCII and never part of
// a multi-byte UTF-8 sequence, so splitting the UTF-8 text is the same as splitting its UTF-16 form.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace autodeploy::fuzz {

struct ParsedCommandLine {
    std::string program;
    // False when the program name opened a quote and something other than a space or tab (or the
    // end) follows its closing quote: a command line our builder must never produce.
    bool program_well_separated = true;
    std::vector<std::string> arguments;
};

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

inline ParsedCommandLine parse_msvcrt_command_line(std::string_view line) {
    ParsedCommandLine parsed;
    std::size_t p = 0;

    if (p < line.size() && line[p] == '"') {
        ++p;
        while (p < line.size() && line[p] != '"') parsed.program.push_back(line[p++]);
        if (p < line.size()) ++p;  // the closing quote
        parsed.program_well_separated = p == line.size() || is_blank(line[p]);
    } else {
        while (p < line.size() && !is_blank(line[p])) parsed.program.push_back(line[p++]);
    }

    for (;;) {
        while (p < line.size() && is_blank(line[p])) ++p;
        if (p == line.size()) break;

        std::string argument;
        bool in_quotes = false;
        while (p < line.size()) {
            std::size_t backslashes = 0;
            while (p < line.size() && line[p] == '\\') {
                ++backslashes;
                ++p;
            }
            if (p < line.size() && line[p] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument.push_back('"');
                } else if (in_quotes && p + 1 < line.size() && line[p + 1] == '"') {
                    argument.push_back('"');
                    ++p;
                } else {
                    in_quotes = !in_quotes;
                }
                ++p;
                continue;
            }
            argument.append(backslashes, '\\');
            if (p == line.size()) break;
            if (!in_quotes && is_blank(line[p])) break;
            argument.push_back(line[p++]);
        }
        parsed.arguments.push_back(std::move(argument));
    }
    return parsed;
}

}  // namespace autodeploy::fuzz
