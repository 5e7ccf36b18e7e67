#include "program_search.hpp"

namespace autodeploy {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool ends_with_exe(std::string_view name) {
    constexpr std::string_view kExe = ".exe";
    if (name.size() < kExe.size()) return false;
    const std::string_view tail = name.substr(name.size() - kExe.size());
    for (std::size_t i = 0; i < kExe.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExe[i]) return false;
    }
    return true;
}

bool has_directory_part(std::string_view program) { return program.find_first_of("\\/") != std::string_view::npos; }

std::string join(std::string_view directory, std::string_view name) {
    std::string joined{directory};
    if (!joined.empty() && !is_separator(joined.back())) joined.push_back('\\');
    joined.append(name);
    return joined;
}

}  // namespace

std::optional<std::string_view> program_name_problem(std::string_view program) {
    if (program.empty()) return "program name is empty";
    if (program.find('\0') != std::string_view::npos) return "program name contains a NUL character";
    if (is_separator(program.back())) return "program name ends in a path separator";
    return std::nullopt;
}

std::vector<std::string> split_path_list(std::string_view path) {
    std::vector<std::string> entries;
    std::string current;
    bool in_quotes = false;
    for (const char c : path) {
        if (c == '"') {
            in_quotes = !in_quotes;
        } else if (c == ';' && !in_quotes) {
            if (!current.empty()) entries.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) entries.push_back(std::move(current));
    return entries;
}

std::optional<std::string> find_program(std::string_view program, const ProgramSearchPlaces& places,
                                        const FileExists& exists) {
    if (program_name_problem(program)) return std::nullopt;

    if (has_directory_part(program)) {
        if (ends_with_exe(program)) return std::string{program};
        std::string with_exe = std::string{program} + ".exe";
        if (exists(with_exe)) return with_exe;
        return std::string{program};
    }

    std::string name{program};
    if (name.find('.') == std::string::npos) name += ".exe";

    // 1. Own directory, 2. system directory, 3. Windows directory, 4. PATH.
    for (const std::string* directory : {&places.own_directory, &places.system_directory, &places.windows_directory}) {
        if (directory->empty()) continue;
        std::string candidate = join(*directory, name);
        if (exists(candidate)) return candidate;
    }
    for (const std::string& directory : split_path_list(places.path)) {
        std::string candidate = join(directory, name);
        if (exists(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace autodeploy
