#include "tools/command_line.hpp"

#include <gtest/gtest.h>

namespace autodeploy {
namespace {

struct QuotingCase {
    std::vector<std::string> arguments;
    std::string expected;
};

TEST(BuildCommandLine, QuotesAndEscapesLikeTheCRuntimeReadsIt) {
    const QuotingCase cases[] = {
        {{}, R"("prog")"},
        {{"/s", "C:\\Temp\\prep_disk.txt"}, R"("prog" /s C:\Temp\prep_disk.txt)"},
        {{""}, R"("prog" "")"},
        {{"a b"}, R"("prog" "a b")"},
        {{"a\tb"}, "\"prog\" \"a\tb\""},
        {{R"(a"b)"}, R"("prog" a\"b)"},
        {{R"(a\"b)"}, R"("prog" a\\\"b)"},
        {{R"(a\\"b)"}, R"("prog" a\\\\\"b)"},
        {{R"(C:\dir\)"}, R"("prog" C:\dir\)"},
        {{R"(C:\my dir\)"}, R"("prog" "C:\my dir\\")"},
        {{R"(C:\my dir\\)"}, R"("prog" "C:\my dir\\\\")"},
        {{R"(\\server\share)"}, R"("prog" \\server\share)"},
        {{R"(say "hi" now)"}, R"("prog" "say \"hi\" now")"},
        {{"C:\\"}, R"("prog" C:\)"},
        {{"/ApplyDir:C:\\"}, R"("prog" /ApplyDir:C:\)"},
        {{"系统 镜像"}, "\"prog\" \"系统 镜像\""},
        {{"--file", "C:\\system.wim", "--nokbd"}, R"("prog" --file C:\system.wim --nokbd)"},
    };
    for (const QuotingCase& c : cases) {
        EXPECT_EQ(build_command_line("prog", c.arguments), c.expected);
    }
}

TEST(BuildCommandLine, ProgramTextIsQuotedExactlyAsGiven) {
    EXPECT_EQ(build_command_line(R"(C:\Temp Dir\udp-receiver.exe)", {"--nokbd"}),
              R"("C:\Temp Dir\udp-receiver.exe" --nokbd)");
    EXPECT_EQ(build_command_line("diskpart", {}), R"("diskpart")");
}

}  // namespace
}  // namespace autodeploy
