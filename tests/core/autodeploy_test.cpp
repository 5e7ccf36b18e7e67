// autodeploy.exe without a system: the stage sequence on a recording platform, the boot files, which read finds
// the image; texts (UTF-8/16, XOR decoding, scrambled store, console chunks and rule), command lines, search, errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "configured_web_address.hpp"
#include "main/deployment_driver.hpp"
#include "main/image_presence.hpp"
#include "partition_scripts.hpp"
#include "scrambled/scrambled_text_store.hpp"
#include "support/console_chunks.hpp"
#include "support/console_encoding.hpp"
#include "support/utf.hpp"
#include "tools/command_line.hpp"
#include "tools/deploy_error.hpp"
#include "tools/program_search.hpp"

namespace autodeploy {
namespace {

// Records everything the driver asks of the system, in one journal, and fails where told.
class RecordingPlatform final : public DeploymentPlatform {
public:
    std::vector<std::string> journal;
    std::map<std::string, std::string> staged;  // file name -> bytes
    std::optional<std::uint32_t> firmware_type;
    std::map<std::string, DeployError> failing;  // journal entry -> the error its call gives
    ImageRemoval removal = ImageRemoval::Removed;

    void print_line(std::string_view line) override { journal.push_back("print " + std::string{line}); }
    void run_ignoring(std::string_view program, const std::vector<std::string>& arguments) override {
        journal.push_back("ignoring " + call(program, arguments));
    }
    Status run_tool(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode) override {
        return record((mode == OutputMode::Quiet ? "quiet " : "shown ") + call(program, arguments));
    }
    Result<std::string> stage_file(std::string_view file_name, std::string_view bytes) override {
        if (Status status = record("stage " + std::string{file_name}); !status.ok()) return status.error();
        staged[std::string{file_name}] = std::string{bytes};
        return "T:\\tmp dir\\" + std::string{file_name};
    }
    std::optional<std::uint32_t> read_firmware_type() override {
        journal.push_back("read firmware");
        return firmware_type;
    }
    Result<ImageRemoval> remove_image(std::string_view path) override {
        if (Status status = record("remove " + std::string{path}); !status.ok()) return status.error();
        return removal;
    }

private:
    static std::string call(std::string_view program, const std::vector<std::string>& arguments) {
        std::string text{program};
        for (const std::string& argument : arguments) text += " [" + argument + "]";
        return text;
    }
    Status record(const std::string& entry) {
        journal.push_back(entry);
        const auto found = failing.find(entry);
        return found == failing.end() ? Status{} : Status{found->second};
    }
};

constexpr std::string_view kReceiver = "MZ receiver bytes";
const std::string kReceiverCall = "shown T:\\tmp dir\\udp-receiver.exe [--file] [C:\\system.wim] [--nokbd]";

std::vector<std::string> successful_run(bool uefi, const std::string& l) {
    const std::string f = uefi ? "UEFI" : "Legacy BIOS", s = uefi ? "GPT" : "MBR", b = uefi ? "UEFI" : "BIOS";
    return {
        "print ==============================================",
        "print Veskaro — WinPE 自动部署工具",
        "print 访问官网获取最新版本：" + std::string{configured::kWebAddress},
        "print ==============================================",
        "ignoring wpeutil [UpdateBootInfo]",
        "read firmware",
        "print [INFO] 检测到 " + f + " 固件",
        "print [INFO] 正在将磁盘格式化为 " + s + " 格式",
        "stage prep_disk.txt",
        "quiet diskpart [/s] [T:\\tmp dir\\prep_disk.txt]",
        "print [INFO] 等待网络发送 system.wim ...",
        "stage udp-receiver.exe",
        kReceiverCall,
        "print [INFO] system.wim 已接收，开始写入磁盘 ...",
        "shown dism [/Apply-Image] [/ImageFile:C:\\system.wim] [/Index:1] [/ApplyDir:C:\\]",
        "print 写入完成，正在修复引导…",
        "quiet bcdboot [C:\\Windows] [/s] [" + l + "] [/f] [" + b + "]",
        "remove C:\\system.wim",
        "print 已删除临时镜像 C:\\system.wim",
        "print [SUCCESS] 部署完成，系统即将重启 ...",
        "quiet wpeutil [reboot]",
    };
}

// The last row finds no image to remove: the run says so and still restarts.
TEST(DeploymentDriver, FirmwareDecidesLayoutScriptAndBootTarget) {
    const struct {
        std::optional<std::uint32_t> firmware_type;
        bool uefi;
        ImageRemoval removal = ImageRemoval::Removed;
    } cases[] = {{2u, true},  {1u, false},          {0u, false},
                 {3u, false}, {0xFFFFFFFFu, false}, {std::nullopt, false, ImageRemoval::Absent}};
    for (const auto& c : cases) {
        RecordingPlatform platform;
        platform.firmware_type = c.firmware_type;
        platform.removal = c.removal;
        ASSERT_TRUE(run_deployment(platform, kReceiver).ok());
        // bcdboot's /s: the letter the staged script assigns first after it makes the partition the firmware
        // boots from: the EFI system partition (GPT) or the active one (MBR).
        const std::string& script = platform.staged["prep_disk.txt"];
        const std::size_t at = script.find("assign letter=",
                                           std::min(script.find("partition efi"), script.find("\nactive")));
        std::vector<std::string> expected = successful_run(
            c.uefi, at == std::string::npos ? "no letter" : script.substr(at + 14, 1) + ":");
        if (c.removal == ImageRemoval::Absent) expected[18] = "print 未找到临时镜像（可能已被移除）";
        EXPECT_EQ(platform.journal, expected) << c.firmware_type.value_or(12345);
        EXPECT_EQ(script, c.uefi ? std::string{generated::kGptScript} : std::string{generated::kMbrScript});
        EXPECT_EQ(platform.staged["udp-receiver.exe"], kReceiver);
    }
}

// Each call that can fail, failing, ends the run with its error: the journal stops there (a failed restart
// comes after the success line).
TEST(DeploymentDriver, FirstFailureEndsTheRunWithThatError) {
    const std::vector<std::string> journal = successful_run(false, "C:");
    for (auto entry = journal.begin(); entry != journal.end(); ++entry) {
        const bool tool = entry->starts_with("quiet") || entry->starts_with("shown");
        if (!tool && !entry->starts_with("stage") && !entry->starts_with("remove")) continue;
        const DeployError error = tool ? DeployError::tool(0x80004005, "x failed: ExitStatus(ExitStatus(1))")
                                       : DeployError::file(32, "In use.");
        RecordingPlatform platform;
        platform.failing.emplace(*entry, error);
        const Status status = run_deployment(platform, kReceiver);
        ASSERT_FALSE(status.ok()) << *entry;
        EXPECT_EQ(status.error().render(), error.render());
        EXPECT_EQ(platform.journal, std::vector<std::string>(journal.begin(), entry + 1)) << *entry;
    }
}

// System codes: 5 access denied, 32 sharing violation, 1920 cannot access file (a link whose target is gone).
TEST(ImageCountsAsPresent, WhichReadAnswers) {
    using Outcome = FollowedRead::Outcome;
    const struct {
        const char* what;
        FollowedRead read;
        bool directory_entry_found;
        EntryItself entry_itself;
        bool expected;
    } cases[] = {
        {"open 1920, entry itself a regular file", {Outcome::OpenFailed, 1920}, false, EntryItself::Readable, true},
        {"query 1920, entry itself a link", {Outcome::QueryFailed, 1920}, true, EntryItself::NameSurrogateLink, false},
        {"open sharing violation, directory entry", {Outcome::OpenFailed, 32}, true, EntryItself::Unreadable, true},
        {"open sharing violation, no entry", {Outcome::OpenFailed, 32}, false, EntryItself::Readable, false},
        {"query access denied", {Outcome::QueryFailed, 5}, true, EntryItself::Readable, false},
    };
    for (const auto& c : cases) {
        const PresenceFallbacks fallbacks{[&] { return c.directory_entry_found; }, [&] { return c.entry_itself; }};
        EXPECT_EQ(image_counts_as_present(c.read, fallbacks), c.expected) << c.what;
    }
}

TEST(Utf, SurrogatePairsAndWhatIsNotText) {
    const std::string texts[] = {"", "访问官网获取最新版本：", "— …", "\xF0\x9F\x98\x80 emoji"};
    for (const std::string& text : texts) EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(utf16_to_code_points(std::u16string{0xD83D, 0xDE00}), std::u32string{U'\U0001F600'});
    EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', 0xD800}), std::nullopt);
    EXPECT_EQ(utf16_to_utf8(std::u16string{0xDC00, u'a'}), std::nullopt);
    for (const std::string text : {"\xFF", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8"}) {
        EXPECT_EQ(utf8_to_code_points(text), std::nullopt) << text.size();
    }
}

// Worked out by hand.
TEST(XorTranscode, HandCheckedVectors) {
    const struct {
        const char* what;
        std::string stored;
        std::u32string key;
        std::string expected;
    } vectors[] = {
        {"key shorter than text repeats", "abcd", U"ab", std::string("\0\0\x02\x06", 4)},
        {"key longer than text is cut", "ab", U"abcdef", std::string("\0\0", 2)},
        {"result 0x80 takes two bytes", "a", U"\u00E1", "\xC2\x80"},
        {"result 0xFF takes two bytes", "\xC3\xBF", U"\u0100", "\xC3\xBF"},
        {"non-ASCII key character", "AB", U"\u00E9z", "\xC2\xA8\x38"},
        {"stored CJK character contributes 0xFB", "\xE7\xB3\xBB", U"x", "\xC2\x83"},
        {"stored emoji (four bytes) contributes 0x00", "\xF0\x9F\x98\x80", U"A", "A"},
        {"ill-formed byte reads as U+FFFD", "\xFF", U"A", "\xC2\xBC"},
        {"empty key gives empty text", "anything", U"", ""},
    };
    for (const auto& v : vectors) EXPECT_EQ(decode_with_key(v.stored, v.key), v.expected) << v.what;
    const std::string every_latin1 = "\x01 diskpart\r\n\xC2\x80\xC3\xA9\xC3\xBF";
    EXPECT_EQ(decode_with_key(decode_with_key(every_latin1, U"\u00FF\u0080x"), U"\u00FF\u0080x"), every_latin1);
}

void set_key(const char* value) { value ? setenv("CRYPTIFY_KEY", value, 1) : unsetenv("CRYPTIFY_KEY"); }

// The built-in key's texts are the driver test's; a cached entry is decoded once, whatever the key later.
TEST(ScrambledTextStore, TheKeyOfTheMomentAndCachedEntriesOnce) {
    const char* first = get(CachedEntry::BOOT_TOOL).data();
    set_key("");
    EXPECT_EQ(decode(stored_bytes(ScriptEntry::MBR_SCRIPT)), "");
    set_key("wrong key");
    EXPECT_EQ(decode(stored_bytes(CachedEntry::IMAGE_TOOL)),
              decode_with_key(stored_bytes(CachedEntry::IMAGE_TOOL), U"wrong key"));
    EXPECT_EQ(get(CachedEntry::BOOT_TOOL), "bcdboot");
    EXPECT_EQ(get(CachedEntry::BOOT_TOOL).data(), first);
    set_key("a\xED\xA0\x80\x62");  // an encoded lone surrogate is not text: the built-in key
    EXPECT_EQ(decode(stored_bytes(CachedEntry::BOOT_TOOL)), "bcdboot");
    set_key(nullptr);
}

TEST(Utf8Chunks, CutBackToCharacterStartsAtTheLimit) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::size_t> sizes;
    } cases[] = {
        {"fits exactly", std::string(4096, 'a'), {4096}},
        {"two-byte character straddles", std::string(4095, 'a') + "é" + "z", {4095, 3}},
        {"two-byte character ends at the limit", std::string(4094, 'a') + "é" + "z", {4096, 1}},
        {"continuation bytes only are still cut", std::string(5000, '\x80'), {4096, 904}},
    };
    for (const auto& c : cases) {
        std::vector<std::size_t> sizes;
        std::string joined;
        for (const std::string_view chunk : utf8_chunks(c.text)) {
            sizes.push_back(chunk.size());
            joined.append(chunk);
        }
        EXPECT_EQ(sizes, c.sizes) << c.what;
        EXPECT_EQ(joined, c.text) << c.what;
    }
    EXPECT_EQ(utf8_chunks("ab", 0).size(), 2u);
}

// Chinese text reaches a console drawing in code page 437 or 936 only as UTF-16.
TEST(ConsoleEncoding, Utf16OnlyToAConsoleWhoseCodePageIsNotUtf8) {
    EXPECT_EQ(console_encoding(true, 437), ConsoleEncoding::Utf16);
    EXPECT_EQ(console_encoding(true, 65001), ConsoleEncoding::Utf8Bytes);
    EXPECT_EQ(console_encoding(false, 437), ConsoleEncoding::Utf8Bytes);  // a file or pipe
}

// Microsoft's rules, one row each (the round trip under Wine covers the rest): 2n backslashes and a quote read
// as n and the quote's meaning, 2n+1 as n and a literal quote, others as they are; "" is an empty argument.
TEST(BuildCommandLine, FollowsTheRulesTheCRuntimeReadsBy) {
    const struct {
        std::string argument, expected;
    } cases[] = {
        {"", R"("prog" "")"},
        {R"(a\"b)", R"("prog" a\\\"b)"},
        {R"(C:\dir\)", R"("prog" C:\dir\)"},
        {R"(C:\my dir\\)", R"("prog" "C:\my dir\\\\")"},
    };
    for (const auto& c : cases) EXPECT_EQ(build_command_line("prog", {c.argument}), c.expected);
    EXPECT_EQ(build_command_line(R"(C:\Temp Dir\udp-receiver.exe)", {}), R"("C:\Temp Dir\udp-receiver.exe")");
}

TEST(FindProgram, SearchOrderAndExtensions) {
    const ProgramSearchPlaces places{R"(X:\own)", R"(X:\sys)", R"(X:\win)", R"(X:\path one;;"X:\quoted;dir";X:\last\)"};
    const struct {
        const char* what;
        std::string program;
        std::set<std::string> existing;
        std::optional<std::string> expected;
    } cases[] = {
        {"own directory first", "dism", {R"(X:\own\dism.exe)", R"(X:\sys\dism.exe)"}, R"(X:\own\dism.exe)"},
        {"system before Windows", "dism", {R"(X:\sys\dism.exe)", R"(X:\win\dism.exe)"}, R"(X:\sys\dism.exe)"},
        {"Windows before PATH", "dism", {R"(X:\win\dism.exe)", R"(X:\path one\dism.exe)"}, R"(X:\win\dism.exe)"},
        {"quoted PATH entry keeps its semicolon", "tool", {R"(X:\quoted;dir\tool.exe)"}, R"(X:\quoted;dir\tool.exe)"},
        {"no separator added after one", "tool", {R"(X:\last\tool.exe)"}, R"(X:\last\tool.exe)"},
        {"a dotted name gets no .exe", "a.cmd", {R"(X:\own\a.cmd)", R"(X:\own\a.cmd.exe)"}, R"(X:\own\a.cmd)"},
        {"never the current directory", "local", {R"(.\local.exe)", "local.exe"}, std::nullopt},
        {"a path ending in .EXE is used unchanged", R"(C:\Temp\TOOL.EXE)", {}, R"(C:\Temp\TOOL.EXE)"},
        {"a path gains .exe when that file exists", R"(C:\Temp\tool)", {R"(C:\Temp\tool.exe)"}, R"(C:\Temp\tool.exe)"},
        {"a path stays when it does not", "C:/Temp/tool", {}, "C:/Temp/tool"},
        {"a name ending in a separator", "tools\\", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const FileExists exists = [&](const std::string& path) { return c.existing.count(path) > 0; };
        EXPECT_EQ(find_program(c.program, places, exists), c.expected) << c.what;
    }
    EXPECT_EQ(program_name_problem(std::string("a\0b", 3)), "program name contains a NUL character");
}

TEST(DeployError, Renderings) {
    const DescribeFailure no_description = [](std::uint32_t, std::string_view) { return std::nullopt; };
    const DescribeFailure described = [](std::uint32_t code, std::string_view text) {
        return std::optional<std::string>{format_result_code(code) + " says: " + std::string{text} + " \r\n"};
    };
    const struct {
        DeployError error;
        const char* expected;
    } cases[] = {
        {DeployError::file(5, "Access is denied."), "Access is denied. (os error 5)"},
        {DeployError::file(32, missing_message_text(32, 317)),
         "OS Error 32 (FormatMessageW() returned error 317) (os error 32)"},
        {DeployError::file_text("failed to write whole buffer"), "failed to write whole buffer"},
        {tool_not_found_error("diskpart"), "diskpart: program not found (0x8000FFFF)"},
        {tool_start_error("", kToolNotStarted, "program name is empty"), "program name is empty (0x8000FFFF)"},
        {tool_start_error("dism", result_code_from_system_code(193), "Bad EXE format."),
         "dism: Bad EXE format. (0x800700C1)"},
        {tool_exit_error("wpeutil", 5, no_description), "wpeutil failed: ExitStatus(ExitStatus(5)) (0x80004005)"},
        {tool_exit_error("T:\\r.exe", 0xC0000005, described),
         "0x80004005 says: T:\\r.exe failed: ExitStatus(ExitStatus(3221225477)) (0x80004005)"},
        {DeployError::tool(0x800700C1, ""), "0x800700C1"},
        {DeployError::tool(0x0000000A, "odd"), "odd (0x0000000A)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.render(), c.expected);
    EXPECT_EQ(result_code_from_system_code(0x12345678), 0x80075678u);
    EXPECT_EQ(result_code_from_system_code(0x80004005), 0x80004005u);
}

}  // namespace
}  // namespace autodeploy
