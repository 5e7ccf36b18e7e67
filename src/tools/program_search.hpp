#pragma once
// Where a tool's program file is looked for. Pure: the places and the file-existence check come
// from the caller, so the search order is tested without a file system.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autodeploy {

struct ProgramSearchPlaces {
    std::string own_directory;  // holds this program's own executable
    std::string system_directory;
    std::string windows_directory;
    std::string path;  // the PATH environment variable's value
};

using FileExists = std::function<bool(const std::string& path)>;

// Why `program` cannot name a program file at all, or nothing when it can.
std::optional<std::string_view> program_name_problem(std::string_view program);

// Entries of a PATH value: split at ';', double quotes group (and are dropped), empties skipped.
std::vector<std::string> split_path_list(std::string_view path);

// A program with a directory part: used as given when it ends in ".exe" (any case), else with
// ".exe" added if that file exists, else as given. A bare name (".exe" added when it holds no
// '.') is looked for in the own, system and Windows directories and then along PATH; the first
// existing candidate wins and the current directory is never searched.
std::optional<std::string> find_program(std::string_view program, const ProgramSearchPlaces& places,
                                        const FileExists& exists);

}  // namespace autodeploy
