// The built autodeploy.exe (AUTODEPLOY_EXE) as a file: the icon and version that Explorer reads
// back through Win32, and none of the texts the program keeps scrambled readable in it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "configured_web_address.hpp"
#include "partition_scripts.hpp"
#include "scrambled/builtin_key.hpp"
#include "standin_fixture.hpp"

namespace {

using namespace standin_test;

const std::wstring kProgram = _wgetenv(L"AUTODEPLOY_EXE") ? _wgetenv(L"AUTODEPLOY_EXE") : L"<AUTODEPLOY_EXE unset>";

// Language neutral and Unicode, so that every WinPE language pack finds it; one Chinese string read
// back intact shows that the resource compiler read the script as UTF-8.
TEST(BuiltProgram, VersionBlockIsLanguageNeutralUnicode) {
    std::vector<std::byte> block(GetFileVersionInfoSizeW(kProgram.c_str(), nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(kProgram.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        << "no version resource in " << utf8(kProgram);
    UINT size = 0;
    const auto query = [&](const wchar_t* name) {
        void* value = nullptr;
        return VerQueryValueW(block.data(), name, &value, &size) ? value : nullptr;
    };
    const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    ASSERT_TRUE(translation && size == 4);
    EXPECT_EQ((std::pair{translation[0], translation[1]}), (std::pair<WORD, WORD>{0, 1200}));
    const auto* name = static_cast<const wchar_t*>(query(L"\\StringFileInfo\\000004B0\\ProductName"));
    EXPECT_EQ(utf8(name ? name : L"<missing>"), "WinPE 自动部署工具");
}

TEST(BuiltProgram, IconGroupOneHasNineSquareSizesOf32Bits) {
    const HMODULE module = LoadLibraryExW(kProgram.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot load " << utf8(kProgram);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr);
    // GRPICONDIR: 6 bytes with the count at 4, then 14 bytes an image: width and height (0 for 256)
    // first, the bit count at 6.
    const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    std::multiset<std::string> images;
    for (unsigned i = 0; i < unsigned{group[4]}; ++i) {
        const BYTE* entry = group + 6 + 14 * i;
        images.insert(std::to_string(entry[0] ? entry[0] : 256) + "x" + std::to_string(entry[1] ? entry[1] : 256) +
                      "x" + std::to_string(entry[6]));
    }
    EXPECT_EQ(images, (std::multiset<std::string>{"16x16x32", "24x24x32", "32x32x32", "48x48x32", "64x64x32",
                                                  "72x72x32", "96x96x32", "128x128x32", "256x256x32"}));
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
