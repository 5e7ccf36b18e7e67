// Whole deployment runs of the real program under a simulated WinPE: stand-in wpeutil, diskpart,
// dism and bcdboot beside autodeploy.exe, the stand-in receiver embedded in it, the firmware
// value in the registry, and C:\system.wim as the image. Every run is a separate process
// started from here, so exit codes, standard handles and the environment are exact.
#include <gtest/gtest.h>

#include <sstream>

#include "configured_web_address.hpp"
#include "partition_scripts.hpp"
#include "scrambled/scrambled_text_store.hpp"
#include "standin_fixture.hpp"
#include "support/unique_handle.hpp"

namespace {

using namespace standin_test;
using autodeploy::UniqueHandle;

const std::wstring kImage = L"C:\\system.wim";
const wchar_t kControlKey[] = L"SYSTEM\\CurrentControlSet\\Control";

const std::string kRule = "==============================================\n";
const std::string kBanner = kRule + "Veskaro — WinPE 自动部署工具\n访问官网获取最新版本：" +
                            autodeploy::configured::kWebAddress + "\n" + kRule;

enum class Output { File, Pipe, None };

struct RunResult {
    DWORD exit_code = 0xDEADBEEF;
    std::string out;
    std::string err;
};

// The registry value the program reads, set as each case needs it.
void set_firmware_value(DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kControlKey, L"PEFirmwareType", type, data, size), ERROR_SUCCESS);
}
void set_firmware_type(DWORD value) { set_firmware_value(REG_DWORD, &value, sizeof value); }
void remove_firmware_type() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kControlKey, L"PEFirmwareType"); }

class Deployment : public ::testing::Test {
protected:
    ScratchDirectory root{L"autodeploy-e2e"};
    std::wstring bin = root.make_directory(L"bin");
    std::wstring temp = root.make_directory(L"tmp") + L"\\";
    std::wstring journal = root / L"journal.txt";
    std::vector<std::unique_ptr<ScopedEnvironment>> environment;

    void SetUp() override {
        ASSERT_TRUE(CopyFileW((own_directory() + L"autodeploy_under_test.exe").c_str(),
                              (bin + L"\\autodeploy.exe").c_str(), FALSE));
        for (const wchar_t* tool : {L"wpeutil", L"diskpart", L"dism", L"bcdboot"}) install_tool(tool);
        remove_file(kImage);
        set_firmware_type(2);
        set(L"STANDIN_JOURNAL", journal);
        set(L"STANDIN_RECEIVER_SOURCE", own_directory() + L"sample.wim");
        set(L"STANDIN_WPEUTIL_STDOUT", L"wpeutil: boot information refreshed");
        set(L"STANDIN_DISKPART_STDOUT", L"diskpart: must not be seen");
        set(L"STANDIN_DISKPART_STDERR", L"diskpart: must not be seen either");
        set(L"STANDIN_UDP_RECEIVER_STDOUT", L"udp-receiver: 100% 接收完成");
        set(L"STANDIN_UDP_RECEIVER_STDERR", L"udp-receiver: progress on stderr");
        set(L"STANDIN_DISM_STDOUT", L"dism: image applied");
        set(L"STANDIN_BCDBOOT_STDOUT", L"bcdboot: must not be seen");
        for (const wchar_t* name : {L"CRYPTIFY_KEY", L"AUTODEPLOY_BACKTRACE", L"AUTODEPLOY_ERROR_BACKTRACE"}) {
            set(name, std::nullopt);
        }
    }
    void TearDown() override {
        remove_file(kImage);
        remove_firmware_type();
    }

    void set(const std::wstring& name, std::optional<std::wstring> value) {
        environment.push_back(std::make_unique<ScopedEnvironment>(name, std::move(value)));
    }
    void install_tool(const std::wstring& name) {
        ASSERT_TRUE(CopyFileW(standin_path().c_str(), (bin + L"\\" + name + L".exe").c_str(), FALSE));
    }

    // Runs autodeploy.exe with TMP and TEMP at `temp`, standard output as asked, and waits.
    RunResult run(Output output = Output::File) {
        ScopedEnvironment tmp{L"TMP", temp}, temp_variable{L"TEMP", temp};
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        const std::wstring out_path = root / L"stdout.txt", err_path = root / L"stderr.txt";
        UniqueHandle input{CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr)};
        UniqueHandle out, err, pipe_read;
        if (output == Output::File) {
            out.reset(
                CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr));
        } else if (output == Output::Pipe) {
            HANDLE read_end = nullptr, write_end = nullptr;
            EXPECT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
            SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
            pipe_read.reset(read_end);
            out.reset(write_end);
        }
        if (output != Output::None) {
            err.reset(
                CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr));
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;  // all NULL for Output::None: no standard handles at all
        if (output != Output::None) {
            startup.hStdInput = input.get();
            startup.hStdOutput = out.get();
            startup.hStdError = err.get();
        }
        std::wstring command_line = L"\"" + bin + L"\\autodeploy.exe\" ignored arguments";
        PROCESS_INFORMATION process{};
        RunResult result;
        if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, root.path().c_str(),
                            &startup, &process)) {
            ADD_FAILURE() << "cannot start autodeploy.exe: " << GetLastError();
            return result;
        }
        input.reset();
        out.reset();
        err.reset();
        if (pipe_read) {
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(pipe_read.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
                result.out.append(buffer, got);
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &result.exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (output == Output::File) result.out = read_file(out_path).value_or("<no stdout file>");
        if (output != Output::None) result.err = read_file(err_path).value_or("<no stderr file>");
        return result;
    }

    std::string journal_text() const { return read_file(journal).value_or(""); }
    bool staged(const wchar_t* name) const { return file_exists(temp + name); }
};

std::string script_text(bool gpt) {
    return gpt ? std::string{autodeploy::generated::kGptScript} : std::string{autodeploy::generated::kMbrScript};
}

// Our eleven lines with each shown tool's output in its place.
std::string successful_output(const std::string& firmware, const std::string& style,
                              const std::string& cleanup = "已删除临时镜像 C:\\system.wim") {
    return kBanner + "wpeutil: boot information refreshed\n" + "[INFO] 检测到 " + firmware +
           " 固件\n[INFO] 正在将磁盘格式化为 " + style + " 格式\n" +
           "[INFO] 等待网络发送 system.wim ...\nudp-receiver: 100% 接收完成\n" +
           "[INFO] system.wim 已接收，开始写入磁盘 ...\ndism: image applied\n写入完成，正在修复引导…\n" + cleanup +
           "\n[SUCCESS] 部署完成，系统即将重启 ...\n";
}

std::string successful_journal(const std::wstring& temp, const std::string& letter, const std::string& firmware) {
    const std::string tmp = utf8(temp);
    std::string journal = "wpeutil\tUpdateBootInfo\n";
    journal += "diskpart\t/s\t" + tmp + "prep_disk.txt\n";
    journal += "udp-receiver\t--file\tC:\\system.wim\t--nokbd\n";
    journal += "dism\t/Apply-Image\t/ImageFile:C:\\system.wim\t/Index:1\t/ApplyDir:C:\\\n";
    journal += "bcdboot\tC:\\Windows\t/s\t" + letter + "\t/f\t" + firmware + "\n";
    journal += "wpeutil\treboot\n";
    return journal;
}

TEST_F(Deployment, UefiRunDoesEveryStageInOrder) {
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.out, successful_output("UEFI", "GPT"));
    EXPECT_EQ(result.err, "udp-receiver: progress on stderr\n");
    EXPECT_EQ(journal_text(), successful_journal(temp, "S:", "UEFI"));
    EXPECT_EQ(read_file(temp + L"prep_disk.txt"), script_text(true));
    EXPECT_EQ(read_file(temp + L"udp-receiver.exe"), read_file(standin_path()));
    EXPECT_FALSE(file_exists(kImage));
}

TEST_F(Deployment, FirmwareValuesOtherThanDword2MeanLegacyBios) {
    const DWORD zero = 0, one = 1, three = 3, all_ones = 0xFFFFFFFF;
    const unsigned long long qword_two = 2;
    const wchar_t string_two[] = L"2";
    const struct {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {"DWORD 0", REG_DWORD, &zero, sizeof zero},
        {"DWORD 1", REG_DWORD, &one, sizeof one},
        {"DWORD 3", REG_DWORD, &three, sizeof three},
        {"DWORD 0xFFFFFFFF", REG_DWORD, &all_ones, sizeof all_ones},
        {"REG_SZ \"2\"", REG_SZ, string_two, sizeof string_two},
        {"REG_QWORD 2", REG_QWORD, &qword_two, sizeof qword_two},
        {"missing", REG_NONE, nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(journal.c_str());
        if (c.data == nullptr) {
            remove_firmware_type();
        } else {
            set_firmware_value(c.type, c.data, c.size);
        }
        const RunResult result = run();
        EXPECT_EQ(result.exit_code, 0u) << result.err;
        EXPECT_EQ(result.out, successful_output("Legacy BIOS", "MBR"));
        EXPECT_EQ(journal_text(), successful_journal(temp, "C:", "BIOS"));
        EXPECT_EQ(read_file(temp + L"prep_disk.txt"), script_text(false));
    }
}

TEST_F(Deployment, TempDirectoryWithSpacesAndChineseCharacters) {
    temp = root.make_directory(L"临时 目录") + L"\\";
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.out, successful_output("UEFI", "GPT"));
    EXPECT_EQ(journal_text(), successful_journal(temp, "S:", "UEFI"));
    EXPECT_TRUE(staged(L"udp-receiver.exe"));
}

TEST_F(Deployment, EachFailingStageEndsTheRunWithItsReport) {
    const std::string waiting = "[INFO] 等待网络发送 system.wim ...\n";
    const struct {
        const char* what;
        const wchar_t* variable;  // set to "1" for the case
        std::string error;        // after "Error: "
        std::size_t journal_lines;
    } cases[] = {
        {"partitioning", L"STANDIN_DISKPART_EXIT", "diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)", 2},
        {"receiver", L"STANDIN_UDP_RECEIVER_EXIT", "", 3},
        {"image", L"STANDIN_DISM_EXIT", "dism failed: ExitStatus(ExitStatus(1)) (0x80004005)", 4},
        {"boot files", L"STANDIN_BCDBOOT_EXIT", "bcdboot failed: ExitStatus(ExitStatus(1)) (0x80004005)", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(journal.c_str());
        remove_file(temp + L"udp-receiver.exe");
        ScopedEnvironment failing{c.variable, L"1"};
        const RunResult result = run();
        const std::string error = c.error.empty()
                                      ? utf8(temp) + "udp-receiver.exe failed: ExitStatus(ExitStatus(1)) (0x80004005)"
                                      : c.error;
        EXPECT_EQ(result.exit_code, 1u);
        EXPECT_NE(result.err.find("Error: " + error + "\n"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.substr(result.err.size() - error.size() - 8), "Error: " + error + "\n");
        const std::string expected_journal = successful_journal(temp, "S:", "UEFI");
        std::size_t end = 0;
        for (std::size_t line = 0; line < c.journal_lines; ++line) end = expected_journal.find('\n', end) + 1;
        EXPECT_EQ(journal_text(), expected_journal.substr(0, end));
        EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
        if (c.journal_lines == 2) {
            EXPECT_EQ(result.out.find(waiting), std::string::npos);
            EXPECT_FALSE(staged(L"udp-receiver.exe"));
        }
    }
}

TEST_F(Deployment, MissingPartitioningToolIsNamedInTheReport) {
    remove_file(bin + L"\\diskpart.exe");
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.err, "Error: diskpart: program not found (0x8000FFFF)\n");
}

TEST_F(Deployment, StagingFailureIsAFileError) {
    temp = root / L"no such directory\\";
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.err, "Error: " + system_message(ERROR_PATH_NOT_FOUND) + " (os error 3)\n");
    EXPECT_EQ(journal_text(), "wpeutil\tUpdateBootInfo\n");
}

TEST_F(Deployment, FailedRestartFollowsTheSuccessLine) {
    set(L"STANDIN_WPEUTIL_EXIT", L"1");  // also fails UpdateBootInfo, which must change nothing
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.out, successful_output("UEFI", "GPT"));
    EXPECT_EQ(result.err,
              "udp-receiver: progress on stderr\nError: wpeutil failed: ExitStatus(ExitStatus(1)) (0x80004005)\n");
}

TEST_F(Deployment, MissingUtilityChangesNoneOfOurLines) {
    remove_file(bin + L"\\wpeutil.exe");
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 1u);
    std::string expected = successful_output("UEFI", "GPT");
    expected.erase(expected.find("wpeutil: boot information refreshed\n"), 36);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "udp-receiver: progress on stderr\nError: wpeutil: program not found (0x8000FFFF)\n");
}

TEST_F(Deployment, ImageThatHasGoneIsReportedAndTheRunCompletes) {
    set(L"STANDIN_BCDBOOT_DELETE", kImage);
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.out, successful_output("UEFI", "GPT", "未找到临时镜像（可能已被移除）"));
    EXPECT_EQ(journal_text(), successful_journal(temp, "S:", "UEFI"));
}

TEST_F(Deployment, ReadOnlyImageIsDeleted) {
    set(L"STANDIN_BCDBOOT_READONLY", kImage);
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.out, successful_output("UEFI", "GPT"));
    EXPECT_FALSE(file_exists(kImage));
}

TEST_F(Deployment, ImageHeldOpenWithoutDeleteSharingStopsBeforeTheRestart) {
    ASSERT_TRUE(write_file(kImage, ""));
    // Shares reading and writing, so the receiver can still fill it, but not deleting.
    const UniqueHandle holder{CreateFileW(kImage.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder.valid());
    const RunResult result = run();
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.err, "udp-receiver: progress on stderr\nError: " + system_message(ERROR_SHARING_VIOLATION) +
                              " (os error 32)\n");
    EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
    EXPECT_EQ(result.out.find("已删除"), std::string::npos);
    EXPECT_EQ(journal_text().find("wpeutil\treboot"), std::string::npos);
}

TEST_F(Deployment, DecodingKeyFromTheEnvironment) {
    {
        SCOPED_TRACE("empty key: every text is empty, so there is no partitioning tool to run");
        ScopedEnvironment key{L"CRYPTIFY_KEY", L""};
        const RunResult result = run();
        EXPECT_EQ(result.exit_code, 1u);
        const std::string banner = kRule + "Veskaro — WinPE 自动部署工具\n访问官网获取最新版本：\n" + kRule;
        EXPECT_EQ(result.out.substr(0, banner.size()), banner);
        EXPECT_EQ(result.err, "Error: program name is empty (0x8000FFFF)\n");
        EXPECT_EQ(read_file(temp + L"prep_disk.txt"), "");
    }
    {
        SCOPED_TRACE("wrong key: garbled names are not found");
        ScopedEnvironment key{L"CRYPTIFY_KEY", L"not the key"};
        const std::string web = autodeploy::decode_with_key(
            autodeploy::stored_bytes(autodeploy::CachedEntry::WEB_ADDRESS), U"not the key");
        const RunResult result = run();
        EXPECT_EQ(result.exit_code, 1u);
        EXPECT_NE(result.out.find("访问官网获取最新版本：" + web + "\n"), std::string::npos);
        EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
        EXPECT_EQ(journal_text(), "");
    }
    {
        SCOPED_TRACE("a lone surrogate is not text: the built-in key is used");
        const wchar_t lone[] = {L'k', static_cast<wchar_t>(0xDC00), 0};
        ScopedEnvironment key{L"CRYPTIFY_KEY", lone};
        const RunResult result = run();
        EXPECT_EQ(result.exit_code, 0u);
        EXPECT_EQ(result.out, successful_output("UEFI", "GPT"));
    }
}

TEST_F(Deployment, StandardOutputToAPipeAndToNothing) {
    const RunResult piped = run(Output::Pipe);
    EXPECT_EQ(piped.exit_code, 0u);
    EXPECT_EQ(piped.out, successful_output("UEFI", "GPT"));

    const RunResult detached = run(Output::None);
    EXPECT_EQ(detached.exit_code, 0u);
    EXPECT_EQ(journal_text(), successful_journal(temp, "S:", "UEFI") + successful_journal(temp, "S:", "UEFI"));
    EXPECT_FALSE(file_exists(kImage));
}

TEST_F(Deployment, BacktraceSwitch) {
    set(L"STANDIN_DISKPART_EXIT", L"1");
    const std::string report = "Error: diskpart failed: ExitStatus(ExitStatus(1)) (0x80004005)\n";
    {
        ScopedEnvironment on{L"AUTODEPLOY_BACKTRACE", L"1"};
        const RunResult result = run();
        EXPECT_EQ(result.exit_code, 1u);
        ASSERT_EQ(result.err.rfind(report + "\nStack backtrace:\n", 0), 0u) << result.err;
        std::istringstream frames(result.err.substr(report.size() + 18));
        std::string frame;
        int ours = 0;
        while (std::getline(frames, frame)) ours += frame.find("autodeploy.exe+0x") != std::string::npos;
        EXPECT_GE(ours, 2) << result.err;
    }
    {
        ScopedEnvironment on{L"AUTODEPLOY_BACKTRACE", L"1"};
        ScopedEnvironment off{L"AUTODEPLOY_ERROR_BACKTRACE", L"0"};
        EXPECT_EQ(run().err, report);
    }
    EXPECT_EQ(run().err, report);
}

}  // namespace
