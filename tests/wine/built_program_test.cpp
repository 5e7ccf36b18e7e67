// The built autodeploy.exe (AUTODEPLOY_EXE) as a file: its icon and version, and no scrambled text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "configured_web_address.hpp"
#include "partition_scripts.hpp"
#include "scrambled/builtin_key.hpp"
#include "standin_fixture.hpp"

namespace {

using namespace standin_test;

const std::wstring kProgram = _wgetenv(L"AUTODEPLOY_EXE") ? _wgetenv(L"AUTODEPLOY_EXE") : L"<AUTODEPLOY_EXE unset>";

// The version block is language neutral and Unicode, so that every WinPE language pack finds it; one
// Chinese string read back intact shows that the resource compiler read the script as UTF-8. Icon
// group 1 holds nine square sizes of 32 bits.
TEST(BuiltProgram, VersionBlockAndIconGroup) {
    std::vector<std::byte> block(GetFileVersionInfoSizeW(kProgram.c_str(), nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(kProgram.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        << "no version resource in " << utf8(kProgram);
    void *translation = nullptr, *name = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation, &size) && size == 4);
    const auto* language = static_cast<const WORD*>(translation);
    EXPECT_EQ((std::pair{language[0], language[1]}), (std::pair<WORD, WORD>{0, 1200}));
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\000004B0\\ProductName", &name, &size));
    EXPECT_EQ(utf8(static_cast<const wchar_t*>(name)), "WinPE 自动部署工具");
    const HMODULE module = LoadLibraryExW(kProgram.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot load " << utf8(kProgram);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr);
    // GRPICONDIR: 6 bytes with the count at 4, then 14 bytes an image: width and height (0 for 256)
    // first, the bit count at 6.
    const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    std::string images;
    for (const BYTE* entry = group + 6; entry < group + 6 + 14 * group[4]; entry += 14) {
        images += " " + std::to_string(entry[0] ? entry[0] : 256) + "x" + std::to_string(entry[1] ? entry[1] : 256) +
                  "x" + std::to_string(entry[6]);
    }
    EXPECT_EQ(images, " 16x16x32 24x24x32 32x32x32 48x48x32 64x64x32 72x72x32 96x96x32 128x128x32 256x256x32");
    FreeLibrary(module);
}

// In UTF-8 or UTF-16: the tool names, the web address, the key and each script line long enough
// not to be a common word.
TEST(BuiltProgram, ScrambledTextsAreNotReadableInIt) {
    const std::string bytes = read_file(kProgram).value_or("");
    ASSERT_GT(bytes.size(), 100000u) << "cannot read " << utf8(kProgram);
    const std::string address = autodeploy::configured::kWebAddress;
    const std::u32string key = autodeploy::builtin_key();
    std::vector<std::string> hidden = {"diskpart", "bcdboot", "wpeutil",
                                       address.substr(address.find("://") + 3) /* from the host on */,
                                       std::string(key.begin(), key.end())};
    std::istringstream scripts(std::string(autodeploy::generated::kMbrScript) + autodeploy::generated::kGptScript);
    for (std::string line; std::getline(scripts, line);) {
        if (line.size() >= 8) hidden.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
    }
    for (const std::string& text : hidden) {
        const std::wstring wide = autodeploy::widen(text);
        EXPECT_EQ(bytes.find(text), std::string::npos) << text;
        EXPECT_EQ(bytes.find(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)),
                  std::string::npos)
            << text << " in UTF-16";
    }
}

}  // namespace
