// What the PC's programs and the room server must agree on, each side asked itself: the report words
// (roomserver/stages.py REPORTS), the MACs and the computer names (pc.txt's "mac=" and "name=", which the
// server writes and the watch reads), the HTTP port when none is named. python3 runs the server's own code
// from this source tree.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/hex.hpp"
#include "watch/report_request.hpp"
#include "watch/watch_settings.hpp"

namespace autodeploy::watch {
namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// What python3 prints for CODE, with roomserver importable and INPUT as hex in sys.argv[1].
std::string python(const std::string& code, const std::string& input = "") {
    std::string command = "PYTHONPATH=" + quoted(AUTODEPLOY_SOURCE_DIR) + " python3 -c " + quoted(code) + " '";
    for (const char c : input) command += hex_digits(static_cast<unsigned char>(c), 2, false);
    FILE* pipe = popen((command + "'").c_str(), "r");
    std::string out;
    for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    const int status = pipe == nullptr ? -1 : pclose(pipe);
    if (status != 0) {
        ADD_FAILURE() << (WIFEXITED(status) && WEXITSTATUS(status) == 127
                              ? "python3 not found: it is a project dependency (packages.txt, make deps)"
                              : "python3 failed (" + std::to_string(status) + ") on: " + code);
    }
    return out;
}

TEST(RoomServerAgreement, EveryStageHasTheReportWordOfTheServerInOrderAndThePortIsTheServers) {
    std::string words;
    // stage_word knows every Stage, from the first on; past the last it answers "unknown".
    for (int stage = 0; stage_word(Stage(stage)) != "unknown"; ++stage) words.append(stage_word(Stage(stage))) += '\n';
    EXPECT_EQ(words, python("from roomserver.stages import REPORTS; print(*REPORTS, sep='\\n')"));
    EXPECT_EQ(std::to_string(kDefaultPort) + "\n", python("from roomserver.config import Config; print(Config.port)"));
}

// For MACs and names alike: what the server would write the watch reads as written, and what the server
// refuses the watch refuses (a MAC it reads only in the form the server writes).
TEST(RoomServerAgreement, MacsAndComputerNamesAreReadAsTheServerWritesThem) {
    // One a line: MACs in the server's form, in capitals, with hyphens, with blanks around, almost MACs;
    // names, also at their limits; neither (the last is empty).
    const std::string inputs =
        "52:54:00:ab:cd:ef\n52:54:00:AB:CD:EF\n52-54-00-ab-cd-ef\n 52:54:00:12:34:56\t\n52:54:00:12:34\n"
        "52:54:00:12:34:5g\n52:54:00:12:34:567\n5254.0012.3456\nLAB1-07\nlab1-07\n1234\n-\n12-\nABCDEFGHIJKLMNO\n"
        "ABCDEFGHIJKLMNOP\nLAB_07\nLAB 07\nLAB1-0é\n";
    const std::string server = python(
        "import sys\nfrom roomserver.macs import normal_mac\nfrom roomserver.roomlist import computer_name_problem\n"
        "for t in bytes.fromhex(sys.argv[1]).decode().split('\\n'):\n"
        "    print(normal_mac(t) or '', '' if computer_name_problem(t) else t, sep='\\t')\n",
        inputs);
    const auto watch_reads = [](const std::string& key, const std::string& value) {
        Settings settings;
        read_server_file(key + "=" + value + "\n", settings);
        return key == "mac" ? settings.mac : settings.name;
    };
    std::size_t at = 0;  // in SERVER's lines: for each input the MAC and the name it would write, or nothing
    for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 1) {
        to = inputs.find('\n', from);
        const std::string input = inputs.substr(from, to - from);
        const std::size_t tab = server.find('\t', at), end = server.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "python3 judged fewer inputs: " << server;
        const std::string writes[] = {server.substr(at, tab - at), server.substr(tab + 1, end - tab - 1)};
        at = end + 1;
        for (const std::string key : {"mac", "name"}) {
            const std::string& written = writes[key == "name"];
            const std::string read = watch_reads(key, input);
            EXPECT_TRUE(read.empty() || read == written)
                << key << " [" << input << "]: the watch reads [" << read << "], the server [" << written << "]";
            EXPECT_TRUE(written.empty() || watch_reads(key, written) == written)
                << key << " [" << input << "]: the server writes [" << written << "], the watch refuses it";
        }
    }
}

}  // namespace
}  // namespace autodeploy::watch
