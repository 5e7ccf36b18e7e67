// Whole runs of the program under a simulated WinPE, the stand-in as every tool and the receiver.
// Only what Windows decides is compared; our own lines and their order are the core test's.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <tuple>
#include <utility>

#include "partition_scripts.hpp"
#include "standin_fixture.hpp"

namespace {

using namespace standin_test;

const std::wstring kImage = L"C:\\system.wim";
const wchar_t kControlKey[] = L"SYSTEM\\CurrentControlSet\\Control";
const std::string kReceiverError = "udp-receiver: progress on stderr\n";
const std::string kDiskpartReport = "Error: diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)\n";
const std::string kShownToolOutput =
    "wpeutil: boot information refreshed\nudp-receiver: 100% 接收完成\ndism: image applied\n";

// Compared whole, so that a failure shows all of it.
struct Outcome {
    DWORD exit_code = 0xDEADBEEF;
    std::string out, err, tools_run;
    bool operator==(const Outcome&) const = default;
};
void PrintTo(const Outcome& outcome, std::ostream* os) {
    *os << "exit status " << outcome.exit_code << "\n--- standard output:\n"
        << outcome.out << "--- standard error:\n"
        << outcome.err << "--- tools run:\n"
        << outcome.tools_run;
}
using Ending = std::pair<DWORD, std::string>;  // exit status and standard error
Ending ending(const Outcome& outcome) { return {outcome.exit_code, outcome.err}; }

class Deployment : public ::testing::Test {
protected:
    ScratchDirectory root;
    std::wstring bin = root.directory(L"bin");
    std::wstring temp = root.directory(L"临时 目录");   // the staged paths hold spaces
    std::wstring on_path = root.directory(L"on path");  // bcdboot is found there, through PATH
    std::wstring journal = root / L"journal.txt";
    ScopedEnvironment environment{
        {{L"PATH", on_path + L";" + autodeploy::environment_variable_utf16(L"PATH").value_or(L"")},
         {L"TMP", temp},
         {L"TEMP", temp},
         {L"STANDIN_JOURNAL", journal},
         {L"STANDIN_RECEIVER_SOURCE", own_directory() + L"sample.wim"},
         {L"STANDIN_WPEUTIL_STDOUT", L"wpeutil: boot information refreshed"},
         {L"STANDIN_DISKPART_STDOUT", L"diskpart: must not be seen"},
         {L"STANDIN_DISKPART_STDERR", L"diskpart: must not be seen either"},
         {L"STANDIN_UDP_RECEIVER_STDOUT", L"udp-receiver: 100% 接收完成"},
         {L"STANDIN_UDP_RECEIVER_STDERR", L"udp-receiver: progress on stderr"},
         {L"STANDIN_DISM_STDOUT", L"dism: image applied"},
         {L"CRYPTIFY_KEY", std::nullopt},
         {L"AUTODEPLOY_BACKTRACE", std::nullopt},
         {L"AUTODEPLOY_ERROR_BACKTRACE", std::nullopt}}};

    void SetUp() override {
        ASSERT_TRUE(CopyFileW((own_directory() + L"autodeploy_under_test.exe").c_str(),
                              (bin + L"autodeploy.exe").c_str(), FALSE));
        // dism beside the program: Wine's system directory has a dism.exe of its own, which loses.
        for (const std::wstring& tool : {bin + L"wpeutil", bin + L"diskpart", bin + L"dism", on_path + L"bcdboot"}) {
            ASSERT_TRUE(CopyFileW(standin_path().c_str(), (tool + L".exe").c_str(), FALSE));
        }
        set_firmware_value(REG_DWORD, 2);
    }
    void TearDown() override {
        SetFileAttributesW(kImage.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(kImage.c_str());
        set_firmware_value(REG_NONE, 0);
    }
    static void set_firmware_value(DWORD type, DWORD value) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kControlKey, L"PEFirmwareType");
        if (type == REG_NONE) return;
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kControlKey, L"PEFirmwareType", type, &value, sizeof value), 0);
    }

    // Standard output to a pipe, standard error to a file, or no standard handles at all.
    Outcome run(const Variables& variables = {}, bool handles = true) {
        const ScopedEnvironment environment(variables);
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE pipe = nullptr, out = nullptr, err = nullptr;
        if (handles) {
            CreatePipe(&pipe, &out, &inheritable, 0);
            err = CreateFileW((root / L"stderr.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                              CREATE_ALWAYS, 0, nullptr);
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::wstring command_line = L"\"" + bin + L"autodeploy.exe\" ignored arguments";
        PROCESS_INFORMATION process{};
        DeleteFileW(journal.c_str());
        // A program that does not start leaves the exit status 0xDEADBEEF, which no case expects.
        CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, root.path.c_str(), &startup,
                       &process);
        for (const HANDLE ours : {out, err, process.hThread}) CloseHandle(ours);
        Outcome outcome;
        char buffer[4096];
        DWORD got = 0;
        while (pipe && ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) outcome.out.append(buffer, got);
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &outcome.exit_code);
        for (const HANDLE ours : {pipe, process.hProcess}) CloseHandle(ours);
        if (handles) outcome.err = read_file(root / L"stderr.txt").value_or("");
        outcome.tools_run = read_file(journal).value_or("");
        return outcome;
    }

    std::string tools_run(bool uefi) const {
        return "wpeutil\tUpdateBootInfo\ndiskpart\t/s\t" + utf8(temp) +
               "prep_disk.txt\nudp-receiver\t--file\tC:\\system.wim\t--nokbd\n"
               "dism\t/Apply-Image\t/ImageFile:C:\\system.wim\t/Index:1\t/ApplyDir:C:\\\n"
               "bcdboot\tC:\\Windows\t/s\t" +
               (uefi ? "S:\t/f\tUEFI" : "C:\t/f\tBIOS") + "\nwpeutil\treboot\n";
    }
};

TEST_F(Deployment, OnlyFirmwareValueDword2MeansUefi) {
    // A script left by an earlier run, longer than either and hidden: replaced, attributes kept.
    constexpr DWORD kAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::wstring script = temp + L"prep_disk.txt";
    write_file(script, std::string(1000, 'x'));
    SetFileAttributesW(script.c_str(), kAttributes);
    // Type, value and whether UEFI; REG_NONE: no value. REG_BINARY has the right bytes, of the wrong type.
    const std::tuple<DWORD, DWORD, bool> cases[] = {
        {REG_DWORD, 1, false}, {REG_NONE, 0, false}, {REG_BINARY, 2, false}, {REG_DWORD, 2, true}};
    for (const auto& [type, value, uefi] : cases) {
        set_firmware_value(type, value);
        Outcome outcome = run();
        // Only the tools' lines ("name: ...") of its standard output.
        std::istringstream lines(std::exchange(outcome.out, ""));
        for (std::string line; std::getline(lines, line);) {
            if (line.find(": ") == line.find_first_not_of("abcdefghijklmnopqrstuvwxyz-")) outcome.out += line + "\n";
        }
        EXPECT_EQ(outcome, (Outcome{0, kShownToolOutput, kReceiverError, tools_run(uefi)}))
            << "type " << type << ", value " << value;
        EXPECT_EQ(read_file(script), uefi ? autodeploy::generated::kGptScript : autodeploy::generated::kMbrScript);
        EXPECT_EQ(GetFileAttributesW(script.c_str()) & kAttributes, kAttributes);
    }
    EXPECT_EQ(read_file(temp + L"udp-receiver.exe"), read_file(standin_path()));
    EXPECT_FALSE(read_file(kImage)) << "C:\\system.wim is left";
    // No standard handles, and a key that is not text (a lone surrogate): the built-in key.
    const wchar_t lone_surrogate[] = {L'k', static_cast<wchar_t>(0xDC00), 0};
    EXPECT_EQ(run({{L"CRYPTIFY_KEY", lone_surrogate}}, /*handles=*/false), (Outcome{0, "", "", tools_run(true)}));
}

// Runs that fail, or have no image to remove: exit status, standard error and a line of standard output.
TEST_F(Deployment, EndingsOffTheRoad) {
    const std::wstring gone = root / L"gone\\";  // not created
    const std::string path_not_found = "Error: " + system_message(ERROR_PATH_NOT_FOUND) + " (os error 3)\n";
    const Variables no_transfer = {{L"STANDIN_RECEIVER_SOURCE", std::nullopt}};
    // The stand-in receiver leaves the image as the test made it: read-only, then absent.
    write_file(kImage, "MSWIM");
    ASSERT_TRUE(SetFileAttributesW(kImage.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::tuple<Variables, DWORD, std::string, std::string> cases[] = {
        {{{L"STANDIN_DISKPART_EXIT", L"1"}}, 1, kDiskpartReport, ""},
        {{{L"TMP", gone}, {L"TEMP", gone}}, 1, path_not_found, ""},
        // Empty: every text is empty, the partitioning tool's name too.
        {{{L"CRYPTIFY_KEY", L""}}, 1, "Error: program name is empty (0x8000FFFF)\n", ""},
        {no_transfer, 0, kReceiverError, "\n已删除临时镜像 C:\\system.wim\n"},
        {no_transfer, 0, kReceiverError, "\n未找到临时镜像（可能已被移除）\n"}};
    for (const auto& [variables, exit_code, err, line] : cases) {
        const Outcome outcome = run(variables);
        EXPECT_EQ(ending(outcome), (Ending{exit_code, err}));
        EXPECT_NE(outcome.out.find(line), std::string::npos) << outcome.out;
    }
    EXPECT_FALSE(read_file(kImage)) << "C:\\system.wim is left";
    const std::string traced = run({{L"STANDIN_DISKPART_EXIT", L"1"}, {L"AUTODEPLOY_BACKTRACE", L"1"}}).err;
    EXPECT_TRUE(traced.starts_with(kDiskpartReport + "\nStack backtrace:\n")) << traced;
    EXPECT_NE(traced.find("autodeploy.exe+0x"), std::string::npos) << traced;
    // Only in the run's current directory, which is not searched.
    ASSERT_TRUE(MoveFileW((bin + L"diskpart.exe").c_str(), (root / L"diskpart.exe").c_str()));
    EXPECT_EQ(ending(run()), (Ending{1, "Error: diskpart: program not found (0x8000FFFF)\n"}));
    write_file(bin + L"diskpart.exe", "not a program");
    EXPECT_EQ(run().err, "Error: diskpart: " + system_message(ERROR_BAD_EXE_FORMAT) + " (0x800700C1)\n");
}

}  // namespace
