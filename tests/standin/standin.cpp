// A stand-in for the programs the deployment runs (wpeutil, diskpart, dism, bcdboot, the udpcast receiver):
// copied under a tool's file name, it plays that role; environment variables say what it does:
//   STANDIN_JOURNAL=FILE          append "ROLE<TAB>ARG<TAB>ARG..." (UTF-8, LF) to FILE
//   STANDIN_<ROLE>_STDOUT=TEXT    write TEXT and a line feed to standard output (_STDERR likewise)
//   STANDIN_RECEIVER_SOURCE=FILE  as udp-receiver: copy FILE to the path after --file
//   STANDIN_IMAGE_DIGEST=FILE     as dism: exit 2 unless /ImageFile: names a WIM, else write its SHA-256 to FILE
//   STANDIN_<ROLE>_EXIT=CODE      exit code (decimal or 0x hex); STANDIN_EXIT for every role
//   STANDIN_<ROLE>_MILLISECONDS=N take that long first, as the real tool would
//   STANDIN_LOOKS_AT=PATH         end each journal line with "present" or "absent" (whether PATH exists then)
// <ROLE> is the file name without ".exe", upper-cased, '-' as '_' (udp-receiver -> UDP_RECEIVER). A run given
// an argument /NAME takes STANDIN_<ROLE>_<NAME>_... before STANDIN_<ROLE>_... (dism /Add-Driver:
// STANDIN_DISM_ADD_DRIVER_EXIT).
#include "support/win32.hpp"
#include <bcrypt.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
    const std::u8string bytes = std::filesystem::path(text).u8string();
    return {bytes.begin(), bytes.end()};
}

// WriteFile, not the C runtime: the bytes unchanged, and nothing at all without a handle.
void write_line(DWORD stream, const wchar_t* text) {
    const std::string line = utf8(text) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Streams the file, which can be a real install image of several GiB; false if it is not a WIM.
bool write_digest(const std::wstring& image, const wchar_t* digest_file) {
    std::ifstream in(std::filesystem::path(image), std::ios::binary);
    std::vector<char> buffer(1 << 20);
    if (!in.read(buffer.data(), 8) || std::string_view(buffer.data(), 8) != std::string_view("MSWIM\0\0\0", 8)) {
        return false;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    for (auto got = in.gcount(); got > 0; got = in.read(buffer.data(), buffer.size()).gcount()) {
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer.data()), static_cast<ULONG>(got), 0);
    }
    unsigned char sum[32];
    BCryptFinishHash(hash, sum, sizeof sum, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    std::ofstream out(std::filesystem::path(digest_file), std::ios::binary);
    for (const unsigned char byte : sum) out << "0123456789abcdef"[byte >> 4] << "0123456789abcdef"[byte & 0xF];
    out << '\n';
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::wstring role = std::filesystem::path(self).stem().wstring(), variable = L"STANDIN_";
    for (wchar_t& c : role) c = static_cast<wchar_t>(std::towlower(c));
    for (const wchar_t c : role) variable += c == L'-' ? L'_' : static_cast<wchar_t>(std::towupper(c));
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    std::vector<std::wstring> variables;  // the most particular first
    for (const std::wstring& argument : arguments) {
        if (argument.size() < 2 || argument[0] != L'/' || argument.find(L':') != std::wstring::npos) continue;
        variables.push_back(variable + L'_');
        for (const wchar_t c : argument.substr(1))
            variables.back() += c == L'-' ? L'_' : static_cast<wchar_t>(std::towupper(c));
    }
    variables.push_back(variable);
    const auto own = [&](const wchar_t* suffix) -> const wchar_t* {
        for (const std::wstring& name : variables) {
            if (const wchar_t* value = _wgetenv((name + suffix).c_str())) return value;
        }
        return nullptr;
    };

    if (const wchar_t* milliseconds = own(L"_MILLISECONDS")) {
        Sleep(std::wcstoul(milliseconds, nullptr, 10));
    }
    if (const wchar_t* journal = _wgetenv(L"STANDIN_JOURNAL")) {
        std::string line = utf8(role);
        for (const std::wstring& argument : arguments) line += '\t' + utf8(argument);
        if (const wchar_t* path = _wgetenv(L"STANDIN_LOOKS_AT")) {
            line += GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? "\tabsent" : "\tpresent";
        }
        // One write per line, so tools that run one after another append in order.
        std::ofstream(std::filesystem::path(journal), std::ios::binary | std::ios::app) << line + '\n' << std::flush;
    }
    if (const wchar_t* text = own(L"_STDOUT")) write_line(STD_OUTPUT_HANDLE, text);
    if (const wchar_t* text = own(L"_STDERR")) write_line(STD_ERROR_HANDLE, text);

    UINT exit_code = 0;
    const wchar_t* source = _wgetenv(L"STANDIN_RECEIVER_SOURCE");
    const auto file = std::find(arguments.begin(), arguments.end(), L"--file");
    if (role == L"udp-receiver" && source && file != arguments.end() && file + 1 != arguments.end()) {
        std::filesystem::copy_file(source, file[1], std::filesystem::copy_options::overwrite_existing);
    }
    const wchar_t* digest = _wgetenv(L"STANDIN_IMAGE_DIGEST");
    const auto image = std::find_if(arguments.begin(), arguments.end(),
                                    [](const std::wstring& argument) { return argument.starts_with(L"/ImageFile:"); });
    if (role == L"dism" && digest && (image == arguments.end() || !write_digest(image->substr(11), digest))) {
        write_line(STD_ERROR_HANDLE, L"dism stand-in: no WIM image");
        exit_code = 2;
    }
    const wchar_t* code = own(L"_EXIT");
    if (code || (code = _wgetenv(L"STANDIN_EXIT"))) exit_code = std::wcstoul(code, nullptr, 0);
    // ExitProcess, not a return: the code must arrive whole, 0xC0000005 included.
    ExitProcess(exit_code);
}
