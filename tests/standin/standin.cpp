// A stand-in for the programs the deployment runs (diskpart, dism, bcdboot, wpeutil, the udpcast
// receiver). Tests copy this one executable under the name of the tool it replaces; the file name
// picks the role and environment variables pick what it does, so each test sets up only what it
// needs:
//   STANDIN_JOURNAL=FILE          append "ROLE<TAB>ARG<TAB>ARG..." (UTF-8, LF) to FILE
//   STANDIN_REPORT=FILE           write the raw command line and both argument splits, hex-encoded
//   STANDIN_<ROLE>_STDOUT=TEXT    write TEXT and a line feed to standard output (STDERR likewise)
//   STANDIN_RECEIVER_SOURCE=FILE  as udp-receiver: copy FILE to the path after --file
//   STANDIN_IMAGE_DIGEST=FILE     as dism: write the SHA-256 (hex) of the image it applies to FILE
//   STANDIN_<ROLE>_DELETE=FILE    delete FILE before exiting
//   STANDIN_<ROLE>_READONLY=FILE  mark FILE read-only
//   STANDIN_<ROLE>_EXIT=CODE      exit code (decimal or 0x hex); STANDIN_EXIT applies to every role
// <ROLE> is the file name without ".exe", upper-cased, with '-' as '_' (udp-receiver.exe ->
// UDP_RECEIVER). As dism, an /ImageFile: that is not a WIM image fails with exit code 2.
#include "support/win32.hpp"
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Stand-in malfunctions (bad settings, unreadable files) use their own exit code, so a test can
// tell them from the tool failures it asked for.
constexpr UINT kStandinFailure = 3;
constexpr UINT kNotAnImage = 2;

std::string to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Writes all of `bytes`; a missing handle (no console, no redirection) is not an error.
void write_all(HANDLE handle, std::string_view bytes) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

[[noreturn]] void fail(std::wstring_view what) {
    write_all(GetStdHandle(STD_ERROR_HANDLE), "standin: " + to_utf8(what) + "\n");
    ExitProcess(kStandinFailure);
}

// Nothing when the variable is not set; an empty value is a value.
std::optional<std::wstring> environment(const std::wstring& name) {
    std::wstring value(64, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();
        }
        // Too small: the length returned counts the terminating NUL.
        if (length >= value.size()) {
            value.resize(length);
            continue;
        }
        value.resize(length);
        return value;
    }
}

std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) fail(L"cannot read its own file name");
        // A truncated name fills the buffer exactly.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

wchar_t ascii_lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }
wchar_t ascii_upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (ascii_lower(text[i]) != ascii_lower(prefix[i])) return false;
    }
    return true;
}

// "C:\x\Udp-Receiver.EXE" -> "udp-receiver".
std::wstring role_from_path(std::wstring_view path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    std::wstring name(separator == std::wstring_view::npos ? path : path.substr(separator + 1));
    for (wchar_t& c : name) c = ascii_lower(c);
    if (name.size() > 4 && name.ends_with(L".exe")) name.resize(name.size() - 4);
    return name;
}

// "udp-receiver" -> "UDP_RECEIVER", the role's part of its variable names.
std::wstring role_variable(std::wstring_view role) {
    std::wstring name(role);
    for (wchar_t& c : name) c = (c == L'-') ? L'_' : ascii_upper(c);
    return name;
}

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        out.push_back(kDigits[value >> 4]);
        out.push_back(kDigits[value & 0xF]);
    }
    return out;
}

// Decimal or 0x-prefixed hexadecimal, the whole 32-bit range.
std::optional<std::uint32_t> parse_exit_code(std::wstring_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const wchar_t lower = ascii_lower(c);
        unsigned digit = 0;
        if (lower >= L'0' && lower <= L'9') {
            digit = static_cast<unsigned>(lower - L'0');
        } else if (base == 16 && lower >= L'a' && lower <= L'f') {
            digit = static_cast<unsigned>(lower - L'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::optional<std::string> read_file(const std::wstring& path) {
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
        if (got == 0) return bytes;
        bytes.append(buffer, got);
    }
}

void write_file(const std::wstring& path, DWORD access, DWORD disposition, std::string_view bytes) {
    FileHandle file(CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) fail(L"cannot open " + path);
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
            fail(L"cannot write " + path);
        }
        bytes.remove_prefix(written);
    }
}

// The arguments as CommandLineToArgvW splits them, without the program. shell32 is loaded only
// here: under Wine it brings user32 and friends, which would slow every stand-in's start.
std::vector<std::wstring> shell_arguments() {
    const HMODULE shell32 = LoadLibraryW(L"shell32.dll");
    using Split = LPWSTR*(WINAPI*)(LPCWSTR, int*);
    const auto command_line_to_argv =
        shell32 ? reinterpret_cast<Split>(reinterpret_cast<void*>(GetProcAddress(shell32, "CommandLineToArgvW")))
                : nullptr;
    if (command_line_to_argv == nullptr) fail(L"cannot load CommandLineToArgvW");
    int count = 0;
    LPWSTR* split = command_line_to_argv(GetCommandLineW(), &count);
    if (split == nullptr) fail(L"CommandLineToArgvW failed");
    std::vector<std::wstring> arguments(split + (count > 0 ? 1 : 0), split + count);
    LocalFree(split);
    return arguments;
}

void append_journal(const std::wstring& journal, std::wstring_view role, const std::vector<std::wstring>& arguments) {
    std::string line = to_utf8(role);
    for (const std::wstring& argument : arguments) line += '\t' + to_utf8(argument);
    line += '\n';
    // One write per line, so tools that run one after another append in order.
    write_file(journal, FILE_APPEND_DATA, OPEN_ALWAYS, line);
}

void write_report(const std::wstring& report, const std::vector<std::wstring>& arguments) {
    std::string text = "raw:" + hex(to_utf8(GetCommandLineW())) + "\n";
    for (const std::wstring& argument : arguments) text += "crt:" + hex(to_utf8(argument)) + "\n";
    for (const std::wstring& argument : shell_arguments()) text += "shell:" + hex(to_utf8(argument)) + "\n";
    write_file(report, GENERIC_WRITE, CREATE_ALWAYS, text);
}

std::optional<std::wstring> value_after(const std::vector<std::wstring>& arguments, std::wstring_view option) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == option) return arguments[i + 1];
    }
    return std::nullopt;
}

// Stands for a finished transfer: the image file gets the bytes the test prepared.
void receive_image(const std::vector<std::wstring>& arguments) {
    const std::optional<std::wstring> source = environment(L"STANDIN_RECEIVER_SOURCE");
    if (!source) return;
    const std::optional<std::wstring> target = value_after(arguments, L"--file");
    if (!target) fail(L"udp-receiver: no --file argument");
    const std::optional<std::string> bytes = read_file(*source);
    if (!bytes) fail(L"udp-receiver: cannot read " + *source);
    write_file(*target, GENERIC_WRITE, CREATE_ALWAYS, *bytes);
}

// Whether the file is a WIM image; with `digest`, also its SHA-256 in hex. Streams the file: a
// real install image can be several GiB.
bool inspect_image(const std::wstring& path, std::string* digest) {
    constexpr std::string_view kWimMagic{"MSWIM\0\0\0", 8};
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        fail(L"cannot start SHA-256");
    }
    std::vector<char> buffer(1u << 20);
    bool is_wim = false;
    for (bool first = true;; first = false) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            fail(L"cannot read " + path);
        if (first) is_wim = std::string_view(buffer.data(), got).starts_with(kWimMagic);
        if (got == 0 || !is_wim || digest == nullptr) break;
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer.data()), got, 0);
    }
    unsigned char sum[32];
    BCryptFinishHash(hash, sum, sizeof sum, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (is_wim && digest != nullptr) *digest = hex({reinterpret_cast<const char*>(sum), sizeof sum});
    return is_wim;
}

// Refuses what real dism would refuse: a missing or non-WIM image file. Gives the exit code.
std::optional<UINT> check_image(const std::vector<std::wstring>& arguments) {
    constexpr std::wstring_view kOption = L"/ImageFile:";
    for (const std::wstring& argument : arguments) {
        if (!starts_with_ignoring_case(argument, kOption)) continue;
        const std::wstring path = argument.substr(kOption.size());
        const std::optional<std::wstring> digest_file = environment(L"STANDIN_IMAGE_DIGEST");
        std::string digest;
        if (inspect_image(path, digest_file ? &digest : nullptr)) {
            if (digest_file) write_file(*digest_file, GENERIC_WRITE, CREATE_ALWAYS, digest + "\n");
            return std::nullopt;
        }
        write_all(GetStdHandle(STD_ERROR_HANDLE), "dism stand-in: not a WIM image: " + to_utf8(path) + "\n");
        return kNotAnImage;
    }
    write_all(GetStdHandle(STD_ERROR_HANDLE), "dism stand-in: no /ImageFile: argument\n");
    return kNotAnImage;
}

void write_line_if_set(const std::wstring& variable, DWORD stream) {
    if (const std::optional<std::wstring> text = environment(variable)) {
        write_all(GetStdHandle(stream), to_utf8(*text) + "\n");
    }
}

std::optional<UINT> exit_code_from(const std::wstring& variable) {
    const std::optional<std::wstring> text = environment(variable);
    if (!text) return std::nullopt;
    const std::optional<std::uint32_t> code = parse_exit_code(*text);
    if (!code) fail(variable + L" is not an exit code: " + *text);
    return *code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring role = role_from_path(own_path());
    const std::wstring prefix = L"STANDIN_" + role_variable(role) + L"_";
    // As the C runtime splits them (wmain); the report adds CommandLineToArgvW's split.
    const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);

    if (const auto journal = environment(L"STANDIN_JOURNAL")) append_journal(*journal, role, arguments);
    if (const auto report = environment(L"STANDIN_REPORT")) write_report(*report, arguments);

    write_line_if_set(prefix + L"STDOUT", STD_OUTPUT_HANDLE);
    write_line_if_set(prefix + L"STDERR", STD_ERROR_HANDLE);

    UINT exit_code = 0;
    if (role == L"udp-receiver") {
        receive_image(arguments);
    } else if (role == L"dism") {
        exit_code = check_image(arguments).value_or(0);
    }

    if (const auto doomed = environment(prefix + L"DELETE")) {
        if (!DeleteFileW(doomed->c_str())) fail(L"cannot delete " + *doomed);
    }
    if (const auto locked = environment(prefix + L"READONLY")) {
        const DWORD attributes = GetFileAttributesW(locked->c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            !SetFileAttributesW(locked->c_str(), attributes | FILE_ATTRIBUTE_READONLY)) {
            fail(L"cannot make read-only: " + *locked);
        }
    }

    if (const auto code = exit_code_from(prefix + L"EXIT")) {
        exit_code = *code;
    } else if (const auto shared_code = exit_code_from(L"STANDIN_EXIT")) {
        exit_code = *shared_code;
    }
    // ExitProcess, not a return: the code must arrive whole, 0xC0000005 included.
    ExitProcess(exit_code);
}
