// stage_file and temporary_directory with the temporary directory pointed (through TMP and TEMP,
// which GetTempPathW reads) at a scratch directory of each test.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standin_fixture.hpp"
#include "tools/tool_runner.hpp"
#include "tools/work_file_stager.hpp"

namespace autodeploy {
namespace {

using standin_test::read_file;
using standin_test::ScopedEnvironment;
using standin_test::ScratchDirectory;
using standin_test::standin_path;
using standin_test::system_message;
using standin_test::utf8;
using standin_test::wide;
using standin_test::write_file;

// Points the temporary directory at `directory` (given with its trailing backslash).
class TemporaryDirectoryOverride {
public:
    explicit TemporaryDirectoryOverride(const std::wstring& directory)
        : tmp_(L"TMP", directory), temp_(L"TEMP", directory) {}

private:
    ScopedEnvironment tmp_;
    ScopedEnvironment temp_;
};

class WorkFileStagerTest : public ::testing::Test {
protected:
    std::wstring temp_directory() const { return scratch_.path() + L"\\"; }

    ScratchDirectory scratch_;
    TemporaryDirectoryOverride temp_override_{temp_directory()};
};

std::string pseudo_random_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 0x12345678;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

TEST_F(WorkFileStagerTest, TemporaryDirectoryIsWhatTheSystemReports) {
    const Result<std::string> directory = temporary_directory();
    ASSERT_TRUE(directory.ok()) << directory.error().render();
    EXPECT_EQ(directory.value(), utf8(temp_directory()));
}

TEST_F(WorkFileStagerTest, StagedFileHoldsExactlyTheBytesGiven) {
    struct Case {
        std::string name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty.txt", ""},
        {"one.txt", "x"},
        {"prep_disk.txt", "select disk 0\r\nclean\r\nconvert gpt\r\n"},
        {"binary.bin", std::string("\0\xff\r\n\x1a\0MZ", 8)},
        {"big.bin", pseudo_random_bytes(300000)},
        {"镜像 说明.txt", "UTF-8 名称与内容\n"},
    };
    for (const Case& c : cases) {
        const Result<std::string> staged = stage_file(c.name, c.bytes);
        ASSERT_TRUE(staged.ok()) << c.name << ": " << staged.error().render();
        EXPECT_EQ(staged.value(), utf8(temp_directory()) + c.name);
        EXPECT_EQ(read_file(wide(staged.value())), c.bytes) << c.name;
    }
}

// Staging again replaces the content completely but leaves the attributes someone else set.
TEST_F(WorkFileStagerTest, RestagingTruncatesAndKeepsAttributes) {
    const DWORD attribute_sets[] = {
        FILE_ATTRIBUTE_HIDDEN,
        FILE_ATTRIBUTE_SYSTEM,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
    };
    constexpr DWORD kChecked = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    int index = 0;
    for (const DWORD attributes : attribute_sets) {
        const std::string name = "restaged-" + std::to_string(index++) + ".txt";
        const std::wstring path = scratch_ / wide(name);
        ASSERT_TRUE(write_file(path, pseudo_random_bytes(10000)));
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));

        const Result<std::string> staged = stage_file(name, "short");
        ASSERT_TRUE(staged.ok()) << staged.error().render();
        EXPECT_EQ(staged.value(), utf8(path));
        EXPECT_EQ(read_file(path), "short");
        EXPECT_EQ(GetFileAttributesW(path.c_str()) & kChecked, attributes) << name;
    }
}

TEST_F(WorkFileStagerTest, StagingTwiceGivesTheSecondContent) {
    ASSERT_TRUE(stage_file("twice.txt", "first, longer content").ok());
    const Result<std::string> staged = stage_file("twice.txt", "second");
    ASSERT_TRUE(staged.ok());
    EXPECT_EQ(read_file(wide(staged.value())), "second");
}

// The receiver's path: spaces and Chinese in the temporary directory must survive staging, the
// command line and the child's own file handling.
TEST_F(WorkFileStagerTest, ReceiverStagedInSpacedChineseDirectoryRunsEndToEnd) {
    const std::wstring directory = scratch_.make_directory(L"临时 目录") + L"\\";
    const TemporaryDirectoryOverride override(directory);

    const Result<std::string> temporary = temporary_directory();
    ASSERT_TRUE(temporary.ok());
    ASSERT_EQ(temporary.value(), utf8(directory));

    const std::optional<std::string> receiver_bytes = read_file(standin_path());
    ASSERT_TRUE(receiver_bytes.has_value());
    const Result<std::string> receiver = stage_file("udp-receiver.exe", *receiver_bytes);
    ASSERT_TRUE(receiver.ok()) << receiver.error().render();
    EXPECT_EQ(receiver.value(), utf8(directory) + "udp-receiver.exe");

    const std::string image_bytes = std::string("MSWIM\0\0\0", 8) + pseudo_random_bytes(5000);
    const std::wstring source = scratch_ / L"sent image.wim";
    ASSERT_TRUE(write_file(source, image_bytes));
    const std::wstring report_path = scratch_ / L"report.txt";
    const ScopedEnvironment sent(L"STANDIN_RECEIVER_SOURCE", source);
    const ScopedEnvironment report(L"STANDIN_REPORT", report_path);
    const ScopedEnvironment journal(L"STANDIN_JOURNAL", scratch_ / L"journal.txt");

    const std::string image = utf8(directory) + "system 镜像.wim";
    const std::vector<std::string> arguments = {"--file", image, "--nokbd"};
    const Status status = run_tool(receiver.value(), arguments, OutputMode::Quiet);
    ASSERT_TRUE(status.ok()) << status.error().render();

    EXPECT_EQ(read_file(wide(image)), image_bytes);
    EXPECT_EQ(read_file(scratch_ / L"journal.txt"), "udp-receiver\t--file\t" + image + "\t--nokbd\n");
}

TEST_F(WorkFileStagerTest, FailuresAreFileErrorsWithTheSystemMessage) {
    const std::wstring occupied = scratch_.make_directory(L"occupied");
    struct Case {
        std::wstring temp_directory;
        std::string name;
        DWORD code;
    };
    const Case cases[] = {
        {scratch_ / L"no such directory\\", "prep_disk.txt", ERROR_PATH_NOT_FOUND},
        {temp_directory(), "occupied", ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.temp_directory) + c.name);
        const TemporaryDirectoryOverride override(c.temp_directory);
        const Result<std::string> staged = stage_file(c.name, "bytes");
        ASSERT_FALSE(staged.ok());
        EXPECT_EQ(staged.error().kind(), DeployError::Kind::File);
        EXPECT_EQ(staged.error().code(), c.code);
        EXPECT_EQ(staged.error().render(), system_message(c.code) + " (os error " + std::to_string(c.code) + ")");
    }
}

}  // namespace
}  // namespace autodeploy
