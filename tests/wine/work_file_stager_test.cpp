// stage_file with the temporary directory pointed (through TMP and TEMP, which GetTempPathW reads)
// at a scratch directory of each test.
#include <gtest/gtest.h>

#include <string>

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
struct TemporaryDirectoryOverride {
    explicit TemporaryDirectoryOverride(const std::wstring& directory)
        : tmp(L"TMP", directory), temp(L"TEMP", directory) {}
    ScopedEnvironment tmp;
    ScopedEnvironment temp;
};

class WorkFileStagerTest : public ::testing::Test {
protected:
    ScratchDirectory scratch_;
    const std::wstring temp_ = scratch_.path() + L"\\";
    TemporaryDirectoryOverride temp_override_{temp_};
};

// Bytes a text-mode write would change, and more than one small write holds.
TEST_F(WorkFileStagerTest, StagedFileHoldsExactlyTheBytesGiven) {
    std::string large(300000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7919 % 251);
    const std::pair<std::string, std::string> cases[] = {
        {"empty.txt", ""},
        {"binary.bin", std::string("\0\xff\r\n\x1a\0MZ\n", 9)},
        {"large.bin", large},
        {"镜像 说明.txt", "UTF-8 名称与内容\n"},
    };
    for (const auto& [name, bytes] : cases) {
        const Result<std::string> staged = stage_file(name, bytes);
        ASSERT_TRUE(staged.ok()) << name << ": " << staged.error().render();
        EXPECT_EQ(staged.value(), utf8(temp_) + name);
        EXPECT_EQ(read_file(wide(staged.value())), bytes) << name;
    }
}

// Staging again replaces the content completely but keeps the attributes someone else set.
TEST_F(WorkFileStagerTest, RestagingOverALongerFileLeavesOnlyTheNewBytesAndKeepsAttributes) {
    constexpr DWORD kSet = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::wstring path = temp_ + L"restaged.txt";
    ASSERT_TRUE(write_file(path, std::string(10000, 'x')));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), kSet));
    const Result<std::string> staged = stage_file("restaged.txt", "short");
    ASSERT_TRUE(staged.ok()) << staged.error().render();
    EXPECT_EQ(read_file(path), std::string("short"));
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & (kSet | FILE_ATTRIBUTE_READONLY), kSet);
}

// The receiver's path: spaces and Chinese in the temporary directory must survive staging, the
// command line and the child's own start.
TEST_F(WorkFileStagerTest, ProgramStagedInASpacedChineseDirectoryRuns) {
    const std::wstring directory = scratch_.make_directory(L"临时 目录") + L"\\";
    const TemporaryDirectoryOverride override(directory);
    const ScopedEnvironment journal(L"STANDIN_JOURNAL", scratch_ / L"journal.txt");
    const Result<std::string> receiver = stage_file("udp-receiver.exe", read_file(standin_path()).value_or(""));
    ASSERT_TRUE(receiver.ok()) << receiver.error().render();
    ASSERT_EQ(receiver.value(), utf8(directory) + "udp-receiver.exe");
    const std::string image = utf8(directory) + "system 镜像.wim";
    EXPECT_TRUE(run_tool(receiver.value(), {"--file", image, "--nokbd"}, OutputMode::Quiet).ok());
    EXPECT_EQ(read_file(scratch_ / L"journal.txt"), "udp-receiver\t--file\t" + image + "\t--nokbd\n");
}

TEST_F(WorkFileStagerTest, FailuresAreFileErrorsWithTheSystemMessage) {
    scratch_.make_directory(L"occupied");
    const std::pair<std::wstring, DWORD> cases[] = {
        {scratch_ / L"no such directory\\", ERROR_PATH_NOT_FOUND},
        {temp_, ERROR_ACCESS_DENIED},  // "occupied" is a directory there
    };
    for (const auto& [directory, code] : cases) {
        const TemporaryDirectoryOverride override(directory);
        const Result<std::string> staged = stage_file("occupied", "bytes");
        ASSERT_FALSE(staged.ok()) << utf8(directory);
        EXPECT_EQ(staged.error().render(), system_message(code) + " (os error " + std::to_string(code) + ")");
    }
}

}  // namespace
}  // namespace autodeploy
