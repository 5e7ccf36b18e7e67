#include "tools/program_search.hpp"

#include <gtest/gtest.h>

#include <set>

namespace autodeploy {
namespace {

const ProgramSearchPlaces kPlaces{R"(X:\tools)", R"(X:\windows\system32)", R"(X:\windows)",
                                  R"(X:\path one;;"X:\quoted;dir";X:\last\)"};

struct SearchCase {
    const char* what;
    std::string program;
    std::set<std::string> existing;
    std::optional<std::string> expected;
};

TEST(FindProgram, SearchOrderAndExtensions) {
    const SearchCase cases[] = {
        {"own directory first",
         "diskpart",
         {R"(X:\tools\diskpart.exe)", R"(X:\windows\system32\diskpart.exe)"},
         R"(X:\tools\diskpart.exe)"},
        {"system directory before Windows directory",
         "dism",
         {R"(X:\windows\system32\dism.exe)", R"(X:\windows\dism.exe)"},
         R"(X:\windows\system32\dism.exe)"},
        {"Windows directory before PATH",
         "bcdboot",
         {R"(X:\windows\bcdboot.exe)", R"(X:\path one\bcdboot.exe)"},
         R"(X:\windows\bcdboot.exe)"},
        {"PATH entries in order",
         "wpeutil",
         {R"(X:\path one\wpeutil.exe)", R"(X:\last\wpeutil.exe)"},
         R"(X:\path one\wpeutil.exe)"},
        {"quoted PATH entry keeps its semicolon", "tool", {R"(X:\quoted;dir\tool.exe)"}, R"(X:\quoted;dir\tool.exe)"},
        {"entry ending in a separator gets none added", "tool", {R"(X:\last\tool.exe)"}, R"(X:\last\tool.exe)"},
        {"a dotted name gets no .exe",
         "setup.cmd",
         {R"(X:\tools\setup.cmd)", R"(X:\tools\setup.cmd.exe)"},
         R"(X:\tools\setup.cmd)"},
        {"a bare name only in the current directory is not found",
         "local",
         {R"(.\local.exe)", "local.exe"},
         std::nullopt},
        {"nowhere", "diskpart", {}, std::nullopt},
        {"path ending in .exe is used unchanged", R"(C:\Temp\udp-receiver.exe)", {}, R"(C:\Temp\udp-receiver.exe)"},
        {"path ending in .EXE is used unchanged", R"(C:\Temp\TOOL.EXE)", {}, R"(C:\Temp\TOOL.EXE)"},
        {"path without .exe gains it when that file exists",
         R"(C:\Temp\tool)",
         {R"(C:\Temp\tool.exe)"},
         R"(C:\Temp\tool.exe)"},
        {"path without .exe stays when no such file", "C:/Temp/tool", {}, "C:/Temp/tool"},
        {"empty name", "", {R"(X:\tools\.exe)"}, std::nullopt},
        {"name ending in a separator", "tools\\", {}, std::nullopt},
        {"name with a NUL", std::string("disk\0part", 9), {R"(X:\tools\disk)"}, std::nullopt},
    };
    for (const SearchCase& c : cases) {
        const FileExists exists = [&](const std::string& path) { return c.existing.count(path) > 0; };
        EXPECT_EQ(find_program(c.program, kPlaces, exists), c.expected) << c.what;
    }
}

TEST(SplitPathList, QuotesGroupAndEmptiesAreSkipped) {
    EXPECT_EQ(split_path_list(R"(a;;b;"c;d";"";e"f"g;)"), (std::vector<std::string>{"a", "b", "c;d", "efg"}));
    EXPECT_TRUE(split_path_list("").empty());
}

TEST(ProgramNameProblem, NamesThatCannotBeAProgram) {
    EXPECT_EQ(program_name_problem(""), "program name is empty");
    EXPECT_EQ(program_name_problem("C:\\tools\\"), "program name ends in a path separator");
    EXPECT_EQ(program_name_problem("a/"), "program name ends in a path separator");
    EXPECT_EQ(program_name_problem(std::string("a\0b", 3)), "program name contains a NUL character");
    EXPECT_EQ(program_name_problem("diskpart"), std::nullopt);
}

}  // namespace
}  // namespace autodeploy
