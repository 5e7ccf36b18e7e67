// The watch without a PC: its settings, the stages it reports, when it ends a stalled receiver and starts over,
// its requests; and what it and the room server agree on, each side asked itself (python3 runs the server's code
// of this tree): the report words, the MACs and computer names of pc.txt (the server writes them), the port.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "capture/capture_commands.hpp"
#include "support/hex.hpp"
#include "watch/deployment_watch.hpp"
#include "watch/driver_choice.hpp"
#include "watch/error_line.hpp"
#include "watch/report_request.hpp"
#include "watch/watch_settings.hpp"

namespace autodeploy::watch {
namespace {

std::string words(const std::vector<Report>& reports) {
    std::string out;
    for (const Report& r : reports) {
        out += (out.empty() ? "" : " ") + std::string(stage_word(r.stage));
        if (r.stage == Stage::Receiving) out += "=" + std::to_string(r.bytes);
        if (r.stage == Stage::StartingOver) out += "=" + std::to_string(r.attempt);
        if (r.stage == Stage::Failed) out += "=" + r.error;
    }
    return out;
}

TEST(WatchSettings, ReadsWhatIsOfItsKindAndLeavesTheRest) {
    const struct {
        const char* server_file;
        const char* watch_file;
        const char* expected;  // server:port mac name stall
    } cases[] = {
        {"# serve-room\r\nserver=10.77.0.1:8080\r\nmac=52:54:00:77:00:0A\r\nname=LAB1-07\r\n", "stall-seconds=10\n",
         "10.77.0.1:8080 52:54:00:77:00:0a LAB1-07 10"},
        {"server=10.0.0.1\n", "", "10.0.0.1:8080 - - 120"},
        {"server=10.0.0.256:80\nmac=52:54:00:77:00\nname=1234\n", "stall-seconds=0\n", "- - - 120"},
        {"server=10.0.0.1:0\nname=LAB_07\n", "stall-seconds=x\n", "- - - 120"},
        {"server=10.0.0.1:65536\nserver=host:80\nname=ABCDEFGHIJKLMNOP\n", "stall-seconds=86401\n", "- - - 120"},
        {"", "", "- - - 120"},
    };
    for (const auto& c : cases) {
        Settings settings;
        read_server_file(c.server_file, settings);
        read_watch_file(c.watch_file, settings);
        const std::string got =
            (settings.server ? settings.server->address + ":" + std::to_string(settings.server->port) : "-") + " " +
            (settings.mac.empty() ? "-" : settings.mac) + " " + (settings.name.empty() ? "-" : settings.name) + " " +
            std::to_string(settings.stall.count());
        EXPECT_EQ(got, c.expected) << c.server_file;
    }
}

// At each moment what runs and the image's size; what the watch reports, ends, writes.
struct Moment {
    double now;
    Tool tool;
    long long image;  // -1: no file
    const char* reports;
    bool end_receiver = false, answer_file = false;
};

std::string walk(DeploymentWatch& watch, const std::vector<Moment>& road) {
    for (const Moment& m : road) {
        const auto image = m.image < 0 ? std::nullopt : std::optional<std::uint64_t>(m.image);
        const DeploymentWatch::Step step = watch.observe(m.now, m.tool, image);
        if (words(step.reports) != m.reports || step.end_receiver != m.end_receiver ||
            step.write_answer_file != m.answer_file) {
            return "at " + std::to_string(m.now) + ": [" + words(step.reports) + "]" +
                   (step.end_receiver ? " end" : "") + (step.write_answer_file ? " answer" : "");
        }
    }
    return "";
}

TEST(DeploymentWatch, ReportsEachStageOnceEndsAStalledReceiverAndStartsOverUntilTheTriesAreUsedUp) {
    DeploymentWatch watch(std::chrono::seconds(120), 1);
    EXPECT_EQ(walk(watch, {{0, Tool::Utility, -1, ""},
                           {1, Tool::Partition, -1, ""},
                           {2, Tool::Receiver, -1, "disk-prepared waiting"},
                           {500, Tool::Receiver, 0, "waiting"},  // a late PC waits as long as it takes, saying so
                           {501, Tool::Receiver, 1000, "receiving=1000"},
                           {502, Tool::Receiver, 2000, ""},
                           {504, Tool::Receiver, 4000, "receiving=4000"},
                           {505, Tool::Image, 9000, "applying"},
                           {506, Tool::None, 9000, ""},  // bcdboot came and went unseen
                           // the first sign that dism has ended: the answer file, once, before the restart
                           {507, Tool::Utility, -1, "boot-files deployed", false, true},
                           {560, Tool::None, -1, ""},
                           {570, Tool::None, -1, "deployed"}}),  // said again after a minute without news
              "");
    EXPECT_EQ(words(watch.finished(0, "")), "");
    EXPECT_FALSE(watch.again());
    EXPECT_FALSE(watch.write_answer_file_now());
    // All of it too quick to be seen: when autodeploy has ended well, every stage and the answer file at once.
    DeploymentWatch unseen(std::chrono::seconds(120), 1);
    EXPECT_EQ(words(unseen.finished(0, "")), "disk-prepared waiting receiving=0 applying boot-files deployed");
    EXPECT_TRUE(unseen.write_answer_file_now());

    // An image left by the try before stands still: no transfer yet, never a stall.
    DeploymentWatch second(std::chrono::seconds(10), 2);
    EXPECT_EQ(walk(second, {{0, Tool::Receiver, 5000, "disk-prepared waiting"}, {50, Tool::Receiver, 5000, ""}}), "");
    EXPECT_EQ(walk(second, {{51, Tool::Receiver, 0, ""},
                            {52, Tool::Receiver, 300, "receiving=300"},
                            {61, Tool::Receiver, 300, ""},
                            {62, Tool::Receiver, 300, "", true},
                            {63, Tool::Receiver, 300, ""}}),
              "");
    EXPECT_EQ(words(second.finished(1, "Error: udp-receiver.exe failed")), "starting-over=3");
    EXPECT_TRUE(second.again());

    for (const int attempt : {1, kTries}) {  // dropped by the sender: its receiver ends by itself
        DeploymentWatch dropped(std::chrono::seconds(10), attempt);
        dropped.receiver_ended(1);
        EXPECT_EQ(words(dropped.finished(1, "Error: udp-receiver.exe failed")),
                  attempt == 1 ? "starting-over=2" : "failed=Error: udp-receiver.exe failed");
        EXPECT_EQ(dropped.again(), attempt == 1);
        EXPECT_FALSE(dropped.write_answer_file_now());
    }

    // Any other failure holds at once. The answer file came as bcdboot began: dism had ended.
    DeploymentWatch boot(std::chrono::seconds(10), 1);
    EXPECT_EQ(walk(boot, {{0, Tool::Image, -1, "disk-prepared waiting receiving=0 applying"},
                          {1, Tool::Boot, -1, "boot-files", false, true}}),
              "");
    boot.receiver_ended(0);
    EXPECT_EQ(words(boot.finished(1, "Error: bcdboot failed")), "failed=Error: bcdboot failed");
    EXPECT_FALSE(boot.again());
}

TEST(ReportRequest, OneGetWithItsValuesEncodedAndTheAnswerFileTakenOnlyFromAnOk) {
    Settings settings;
    read_server_file("server=10.77.0.1\nmac=52:54:00:77:00:01\n", settings);
    const std::string head = " HTTP/1.1\r\nHost: 10.77.0.1:8080\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(answer_file_request(settings), "GET /unattend.xml?mac=52:54:00:77:00:01" + head);
    EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n<a/>\n"), "<a/>\n");
    EXPECT_EQ(body_of("HTTP/1.1 404 Not Found\r\n\r\nNot Found\n"), std::nullopt);
    EXPECT_EQ(body_of("HTTP/1.1 200 OK\r\nContent-Length: 5"), std::nullopt);
    EXPECT_EQ(report_request(settings, Report(Stage::Receiving, 1234)),
              "GET /report?mac=52:54:00:77:00:01&stage=receiving&bytes=1234" + head);
    EXPECT_EQ(report_request(settings, Report(Stage::StartingOver, 0, 2)),
              "GET /report?mac=52:54:00:77:00:01&stage=starting-over&try=2" + head);
    EXPECT_EQ(report_request(settings, Report(Stage::Failed, 0, 1, "Error: 拒绝 & 100% (0x80004005)\r\n")),
              "GET /report?mac=52:54:00:77:00:01&stage=failed&error=Error:%20%E6%8B%92%E7%BB%9D%20%26%20100%25%20%28"
              "0x80004005%29%0D%0A" +
                  head);
    // The drivers' reports; the firmware's make and model on every report, each cut to 64 bytes.
    Settings firmware = settings;
    firmware.make = "Hewlett-Packard & Co";
    firmware.model = std::string(62, 'x') + "拒";
    Report loaded(Stage::DriversLoaded), added(Stage::DriversAdded);
    loaded.tally = {3, 4};
    added.tally = {0, 5};
    const std::string said = "&make=Hewlett-Packard%20%26%20Co&model=" + std::string(62, 'x') + head;
    EXPECT_EQ(report_request(firmware, loaded),
              "GET /report?mac=52:54:00:77:00:01&stage=drivers-loaded&loaded=3&drivers=4" + said);
    EXPECT_EQ(report_request(firmware, added),
              "GET /report?mac=52:54:00:77:00:01&stage=drivers-added&drivers=5" + said);
    // dism's failure as it is reported: its Error line, with its message line when it prints one.
    EXPECT_EQ(dism_error_of("Installing 1 of 1\r\n\r\nError: 87\r\n\r\nThe option is unknown.\r\n\r\nThe DISM "
                            "log file can be found at X:\\dism.log\r\n"),
              "Error: 87 (The option is unknown.)");
    EXPECT_EQ(dism_error_of("Error: 2\n\nThe DISM log file can be found at X:\\dism.log\n"), "Error: 2");
    EXPECT_EQ(dism_error_of("The operation completed successfully.\n"), "");
    // Cut to what the server keeps, never inside a character.
    const std::string long_line = "Error: " + std::string(289, 'x') + "拒绝";
    const std::string request = report_request(Settings{}, Report(Stage::Failed, 0, 1, long_line));
    EXPECT_EQ(request.substr(0, request.find(' ', 4)),
              "GET /report?stage=failed&error=Error:%20" + std::string(289, 'x') + "%E6%8B%92");
}

// The drivers a PC gets: the folders its firmware's make (or model) chooses among one level of by-model.
TEST(DriverChoice, FoldersMatchWithoutCaseOrSurroundingBlanksAndPlaceholdersMatchNothing) {
    const std::vector<std::string> names{"lenovo", " LENOVO ", "LENOVO",        "Lenovo  Group",
                                         "HP",     "OEM",      "Default string"};
    const struct {
        const char* firmware;
        const char* chosen;
    } cases[] = {{"LENOVO", "| LENOVO |LENOVO|lenovo"},
                 {" lenovo\t", "| LENOVO |LENOVO|lenovo"},
                 {"Lenovo Group", ""},  // inner blanks count
                 {"Lenovo  Group", "|Lenovo  Group"},
                 {"hp", "|HP"},
                 {"Acer", ""},
                 {"", ""},
                 {"oem", ""},
                 {" Default String ", ""},
                 {"To Be Filled By O.E.M.", ""},
                 {"System Product Name", ""}};
    for (const auto& c : cases) {
        std::string chosen;
        for (const std::string& name : chosen_folders(names, c.firmware)) chosen += "|" + name;
        EXPECT_EQ(chosen, c.chosen) << c.firmware;
    }
    EXPECT_EQ(tally_text(read_tally("3 of 4\r\n").value_or(DriverTally{})), "3 of 4");
    EXPECT_EQ(read_tally("5 of 4"), std::nullopt);
}

// What python3 prints for CODE, with roomserver importable and INPUT as hex in sys.argv[1].
std::string python(const std::string& code, const std::string& input = "") {
    setenv("PYTHONPATH", AUTODEPLOY_SOURCE_DIR, 1);
    setenv("AGREEMENT_CODE", code.c_str(), 1);  // the shell passes it on untouched
    std::string command = "python3 -c \"$AGREEMENT_CODE\" ";
    for (const char c : input) command += hex_digits(static_cast<unsigned char>(c), 2, false);
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    EXPECT_EQ(pipe == nullptr ? -1 : pclose(pipe), 0) << "python3 (packages.txt, make deps) failed on: " << code;
    return out;
}

TEST(RoomServerAgreement, EveryStageHasTheReportWordOfTheServerInOrderAndThePortIsTheServers) {
    std::string ours;
    // stage_word knows every Stage, from the first on; past the last it answers "unknown".
    for (int stage = 0; stage_word(Stage(stage)) != "unknown"; ++stage) ours.append(stage_word(Stage(stage))) += '\n';
    // Then the capture program's, in the order it says them.
    for (const std::string_view word : {capture::kFound, capture::kCapturing, capture::kCaptured})
        ours.append(word) += '\n';
    EXPECT_EQ(ours, python("from roomserver.stages import REPORTS; print(*REPORTS, sep='\\n')"));
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
        "ABCDEFGHIJKLMNOP\nLAB_07\nLAB 07\nLAB1-0é\n-LAB\n";
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
    // SERVER's lines: for each input the MAC and the name it would write, or nothing.
    std::istringstream input_lines(inputs + "\n"), server_lines(server);
    for (std::string input, writes[2]; std::getline(input_lines, input);) {
        ASSERT_TRUE(std::getline(server_lines, writes[0], '\t') && std::getline(server_lines, writes[1]))
            << "python3 judged fewer inputs: " << server;
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
