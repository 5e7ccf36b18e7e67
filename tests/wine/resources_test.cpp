// Reads the icon and version resources back from a built autodeploy.exe through the same
// Win32 calls Explorer uses, so a broken .rc or .ico shows up here and not in the field.
// The executable is named by the AUTODEPLOY_EXE environment variable.

// The RT_* resource type constants follow UNICODE; the W functions below need the wide ones.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// A Unix path (what CMake's $<TARGET_FILE> gives) is reached through Wine's Z: drive.
std::wstring exe_path() {
    DWORD needed = GetEnvironmentVariableW(L"AUTODEPLOY_EXE", nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring path(needed, L'\0');
    path.resize(GetEnvironmentVariableW(L"AUTODEPLOY_EXE", path.data(), needed));
    if (!path.empty() && path.front() == L'/') {
        path.insert(0, L"Z:");
    }
    return path;
}

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = exe_path();
        ASSERT_FALSE(path.empty()) << "AUTODEPLOY_EXE must name the executable to check";
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version resource in " << path << ", error " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block_.data())) << GetLastError();
    }

    // The value of a string in the language-neutral Unicode table, without its terminator.
    std::wstring string_value(const wchar_t* name) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\000004B0\\") + name;
        void* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(block_.data(), query.c_str(), &value, &chars) || value == nullptr) {
            ADD_FAILURE() << "no string " << name;
            return {};
        }
        const auto* text = static_cast<const wchar_t*>(value);
        return {text, wcsnlen(text, chars)};
    }

    std::vector<std::byte> block_;
};

TEST_F(VersionResource, TranslationIsLanguageNeutralUnicode) {
    void* value = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &value, &bytes));
    ASSERT_EQ(bytes, 4u) << "exactly one language/code page pair";
    const auto* pair = static_cast<const std::uint8_t*>(value);
    EXPECT_EQ(le16(pair), 0x0000);
    EXPECT_EQ(le16(pair + 2), 1200);
}

TEST_F(VersionResource, FixedInfoCarriesVersion010) {
    void* value = nullptr;
    UINT bytes = 0;
    ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", &value, &bytes));
    ASSERT_GE(bytes, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, value, sizeof info);
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(HIWORD(info.dwFileVersionMS), 0);
    EXPECT_EQ(LOWORD(info.dwFileVersionMS), 1);
    EXPECT_EQ(HIWORD(info.dwFileVersionLS), 0);
    EXPECT_EQ(LOWORD(info.dwFileVersionLS), 0);
    EXPECT_EQ(info.dwProductVersionMS, info.dwFileVersionMS);
    EXPECT_EQ(info.dwProductVersionLS, info.dwFileVersionLS);
    EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(info.dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
}

TEST_F(VersionResource, StringsAreExact) {
    EXPECT_EQ(string_value(L"CompanyName"), L"Veskaro");
    EXPECT_EQ(string_value(L"ProductName"), L"WinPE 自动部署工具");
    EXPECT_EQ(string_value(L"FileDescription"), L"在 WinPE 中无需人工操作接收 WIM 镜像并自动部署系统");
    EXPECT_EQ(string_value(L"FileVersion"), L"0.1.0");
    EXPECT_EQ(string_value(L"ProductVersion"), L"0.1.0");
    EXPECT_EQ(string_value(L"OriginalFilename"), L"autodeploy.exe");
    EXPECT_EQ(string_value(L"InternalName"), L"autodeploy");
    EXPECT_EQ(string_value(L"LegalCopyright"), L"Copyright © Veskaro. 保留所有权利。");
}

class IconResource : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring path = exe_path();
        ASSERT_FALSE(path.empty()) << "AUTODEPLOY_EXE must name the executable to check";
        // As a resource image only: nothing of the program runs, and no imports are resolved.
        module_ = LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "cannot load " << path << ", error " << GetLastError();
    }

    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    // The bytes of one resource, empty if it is missing.
    std::vector<std::uint8_t> resource(const wchar_t* name, const wchar_t* type) {
        HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) {
            return {};
        }
        const DWORD size = SizeofResource(module_, found);
        const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module_, found)));
        if (data == nullptr) {
            return {};
        }
        return {data, data + size};
    }

    HMODULE module_ = nullptr;
};

// One GRPICONDIRENTRY of the group, as stored in the executable.
struct GroupEntry {
    unsigned size;  // pixels; the directory byte holds 0 for 256
    unsigned height;
    unsigned bit_count;
    std::uint32_t bytes;
    std::uint16_t id;
};

TEST_F(IconResource, GroupOneHasNineSizesOf32Bits) {
    const std::vector<std::uint8_t> group = resource(MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u) << "no icon group with id 1";
    EXPECT_EQ(le16(&group[0]), 0) << "reserved";
    EXPECT_EQ(le16(&group[2]), 1) << "type: icon";
    const unsigned count = le16(&group[4]);
    constexpr std::size_t kEntryBytes = 14;
    ASSERT_EQ(group.size(), 6 + count * kEntryBytes);

    std::vector<GroupEntry> entries;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint8_t* e = &group[6 + i * kEntryBytes];
        entries.push_back({e[0] == 0 ? 256u : e[0], e[1] == 0 ? 256u : e[1], le16(e + 6), le32(e + 8),
                           le16(e + 12)});
    }

    std::vector<unsigned> sizes;
    for (const GroupEntry& entry : entries) {
        sizes.push_back(entry.size);
        EXPECT_EQ(entry.height, entry.size);
        EXPECT_EQ(entry.bit_count, 32u) << entry.size << " px";
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<unsigned>{16, 24, 32, 48, 64, 72, 96, 128, 256}));

    // Each entry must point at an image of the size and depth it claims.
    for (const GroupEntry& entry : entries) {
        const std::vector<std::uint8_t> image = resource(MAKEINTRESOURCEW(entry.id), RT_ICON);
        ASSERT_FALSE(image.empty()) << "icon image " << entry.id << " missing";
        EXPECT_EQ(image.size(), entry.bytes) << entry.size << " px";
        static constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (image.size() >= 33 && std::memcmp(image.data(), kPngSignature, sizeof kPngSignature) == 0) {
            // IHDR: width, height, bit depth 8 and colour type 6 (RGBA).
            EXPECT_EQ(be32(&image[16]), entry.size);
            EXPECT_EQ(be32(&image[20]), entry.size);
            EXPECT_EQ(image[24], 8) << entry.size << " px";
            EXPECT_EQ(image[25], 6) << entry.size << " px";
        } else {
            ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
            BITMAPINFOHEADER header;
            std::memcpy(&header, image.data(), sizeof header);
            EXPECT_EQ(header.biWidth, static_cast<LONG>(entry.size));
            EXPECT_EQ(header.biHeight, static_cast<LONG>(2 * entry.size)) << "colour plus AND mask";
            EXPECT_EQ(header.biBitCount, 32) << entry.size << " px";
        }
    }
}

}  // namespace
