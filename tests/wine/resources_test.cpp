// Reads the icon and version resources back from the built autodeploy.exe (AUTODEPLOY_EXE) through
// the Win32 calls Explorer uses, so a broken .rc or .ico shows up here and not in the field.

// The RT_* resource type constants follow UNICODE; the W functions below need the wide ones.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A Unix path (what CMake's $<TARGET_FILE> gives) is reached through Wine's Z: drive.
std::wstring exe_path() {
    const wchar_t* path = _wgetenv(L"AUTODEPLOY_EXE");
    return path ? (path[0] == L'/' ? L"Z:" : L"") + std::wstring(path) : L"";
}

TEST(Resources, VersionInformationIsExact) {
    const std::wstring path = exe_path();
    DWORD ignored = 0;
    std::vector<std::byte> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << "no version resource in AUTODEPLOY_EXE, error " << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    UINT size = 0;
    const auto query = [&](const std::wstring& name) {
        void* value = nullptr;
        return VerQueryValueW(block.data(), name.c_str(), &value, &size) ? value : nullptr;
    };

    const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    // Exactly one language and code page pair: language neutral, Unicode.
    EXPECT_EQ(translation ? std::vector<WORD>(translation, translation + size / 2) : std::vector<WORD>{},
              (std::vector<WORD>{0x0000, 1200}));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_TRUE(fixed != nullptr && size >= sizeof *fixed);
    // File and product version 0.1.0.0, an application for 32-bit Windows NT.
    EXPECT_EQ((std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                                  fixed->dwProductVersionLS, fixed->dwFileType, fixed->dwFileOS}),
              (std::vector<DWORD>{0x00000001, 0x00000000, 0x00000001, 0x00000000, VFT_APP, VOS_NT_WINDOWS32}));

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", L"Veskaro"},
        {L"ProductName", L"WinPE 自动部署工具"},
        {L"FileDescription", L"在 WinPE 中无需人工操作接收 WIM 镜像并自动部署系统"},
        {L"FileVersion", L"0.1.0"},
        {L"ProductVersion", L"0.1.0"},
        {L"OriginalFilename", L"autodeploy.exe"},
        {L"InternalName", L"autodeploy"},
        {L"LegalCopyright", L"Copyright © Veskaro. 保留所有权利。"},
    };
    for (const auto& [name, expected] : strings) {
        // In the language-neutral Unicode table.
        const auto* text = static_cast<const wchar_t*>(query(std::wstring(L"\\StringFileInfo\\000004B0\\") + name));
        EXPECT_EQ(std::wstring(text ? text : L"<missing>"), expected) << name;
    }
}

// GRPICONDIRENTRY, as stored in the executable.
#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;  // 0 for 256 px
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

unsigned big_endian32(const BYTE* p) { return unsigned{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

TEST(Resources, IconGroupOneHasNineSizesOf32Bits) {
    // As a resource image only: nothing of the program runs, and no imports are resolved.
    const HMODULE module = LoadLibraryExW(exe_path().c_str(), nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot load AUTODEPLOY_EXE, error " << GetLastError();
    const auto resource = [&](const wchar_t* name, const wchar_t* type) {
        const HRSRC found = FindResourceW(module, name, type);
        const auto* data = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
        return data ? std::vector<BYTE>(data, data + SizeofResource(module, found)) : std::vector<BYTE>{};
    };

    const std::vector<BYTE> group = resource(MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u) << "no icon group with id 1";
    const auto word = [&](std::size_t at) { return static_cast<unsigned>(group[at] | group[at + 1] << 8); };
    ASSERT_EQ(group.size(), 6 + word(4) * sizeof(GroupEntry));
    std::vector<unsigned> sizes;
    for (unsigned i = 0; i < word(4); ++i) {
        const auto& entry = *reinterpret_cast<const GroupEntry*>(&group[6 + i * sizeof(GroupEntry)]);
        const unsigned size = entry.width == 0 ? 256 : entry.width;
        sizes.push_back(size);
        SCOPED_TRACE(std::to_string(size) + " px");
        EXPECT_EQ(entry.height, entry.width);
        EXPECT_EQ(entry.bit_count, 32);
        // The image the entry points at, by its own header: 64 px and up are PNG with 8 bits per channel
        // of RGBA (colour type 6), the rest bitmaps whose height counts the AND mask too.
        const std::vector<BYTE> image = resource(MAKEINTRESOURCEW(entry.id), RT_ICON);
        ASSERT_EQ(image.size(), entry.bytes);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        const auto& bitmap = *reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        const bool png = std::memcmp(image.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) == 0;
        using Fields = std::vector<unsigned>;
        const Fields found = png ? Fields{big_endian32(&image[16]), big_endian32(&image[20]), image[24], image[25]}
                                 : Fields{unsigned(bitmap.biWidth), unsigned(bitmap.biHeight), bitmap.biBitCount};
        EXPECT_EQ(found, (png ? Fields{size, size, 8, 6} : Fields{size, 2 * size, 32}));
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<unsigned>{16, 24, 32, 48, 64, 72, 96, 128, 256}));
    FreeLibrary(module);
}

}  // namespace
