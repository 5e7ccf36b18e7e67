#include "tool_runner.hpp"

#include "command_line.hpp"
#include "error_info.hpp"
#include "program_search.hpp"
#include "support/backtrace.hpp"
#include "support/environment.hpp"
#include "support/grow_buffer_win32.hpp"
#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"
#include "system_message.hpp"

namespace autodeploy {

namespace {

// The child's three standard handles; each is empty when the child gets none.
struct ChildStreams {
    UniqueHandle input;
    UniqueHandle output;
    UniqueHandle error;
};

DeployError start_error(std::string_view program, std::uint32_t system_code) {
    return tool_start_error(program, result_code_from_system_code(system_code), system_error_text(system_code),
                            capture_backtrace_if_enabled());
}

// An inheritable duplicate of one of our standard handles, or an empty handle if we have none.
bool duplicate_standard_handle(DWORD which, UniqueHandle& duplicate) {
    const HANDLE own = GetStdHandle(which);
    if (!UniqueHandle::is_valid(own)) return true;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    duplicate.reset(copy);
    return true;
}

bool open_null_device(UniqueHandle& handle) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    handle.reset(CreateFileW(L"\\\\.\\NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle.valid();
}

// Gives the failing call's system error code, or ERROR_SUCCESS.
DWORD prepare_streams(OutputMode mode, ChildStreams& streams) {
    if (!duplicate_standard_handle(STD_INPUT_HANDLE, streams.input)) return GetLastError();
    if (mode == OutputMode::Quiet) {
        if (!open_null_device(streams.output) || !open_null_device(streams.error)) return GetLastError();
        return ERROR_SUCCESS;
    }
    if (!duplicate_standard_handle(STD_OUTPUT_HANDLE, streams.output) ||
        !duplicate_standard_handle(STD_ERROR_HANDLE, streams.error)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

// A text the system reported, in UTF-8; empty when it is not valid Unicode text.
std::string utf8_or_empty(std::wstring_view text) { return narrow(text).value_or(std::string{}); }

std::wstring_view directory_of(std::wstring_view file) {
    const std::size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? std::wstring_view{} : file.substr(0, slash);
}

// The own, system and Windows directories do not change while the program runs: looked up once.
const ProgramSearchPlaces& fixed_search_places() {
    static const ProgramSearchPlaces places = [] {
        const GrownText own = fill_growing(
            [](wchar_t* buffer, DWORD capacity) { return GetModuleFileNameW(nullptr, buffer, capacity); });
        const GrownText system = fill_growing(
            [](wchar_t* buffer, DWORD capacity) { return GetSystemDirectoryW(buffer, capacity); });
        const GrownText windows = fill_growing(
            [](wchar_t* buffer, DWORD capacity) { return GetWindowsDirectoryW(buffer, capacity); });
        return ProgramSearchPlaces{
            utf8_or_empty(directory_of(own.text)), utf8_or_empty(system.text), utf8_or_empty(windows.text), {}};
    }();
    return places;
}

// PATH is read at each search: it is this process's environment as it is now.
ProgramSearchPlaces search_places() {
    ProgramSearchPlaces places = fixed_search_places();
    places.path = environment_variable(L"PATH").value_or(std::string{});
    return places;
}

bool file_exists(const std::string& path) { return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

Result<std::uint32_t> run_to_exit(std::string_view program, const std::vector<std::string>& arguments,
                                  OutputMode mode) {
    if (const auto problem = program_name_problem(program)) {
        return tool_start_error(program, kToolNotStarted, *problem, capture_backtrace_if_enabled());
    }
    const std::optional<std::string> resolved = find_program(program, search_places(), file_exists);
    if (!resolved) return tool_not_found_error(program, capture_backtrace_if_enabled());

    ChildStreams streams;
    if (const DWORD error = prepare_streams(mode, streams); error != ERROR_SUCCESS) {
        return start_error(program, error);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (streams.input || streams.output || streams.error) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = streams.input.get();
        startup.hStdOutput = streams.output.get();
        startup.hStdError = streams.error.get();
    }

    const std::wstring application = widen(*resolved);
    std::wstring command_line = widen(build_command_line(program, arguments));
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                   CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &started);
    const DWORD start_failure = ok ? ERROR_SUCCESS : GetLastError();
    // The child holds its own copies now; ours go whether or not it started.
    streams = ChildStreams{};
    if (!ok) return start_error(program, start_failure);

    const ChildProcess child{UniqueHandle{started.hProcess}, UniqueHandle{started.hThread}};
    if (WaitForSingleObject(child.process.get(), INFINITE) != WAIT_OBJECT_0) {
        return start_error(program, GetLastError());
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(child.process.get(), &exit_code)) return start_error(program, GetLastError());
    return static_cast<std::uint32_t>(exit_code);
}

Status run_tool(std::string_view program, const std::vector<std::string>& arguments, OutputMode mode) {
    Result<std::uint32_t> exit_code = run_to_exit(program, arguments, mode);
    if (!exit_code.ok()) return std::move(exit_code).error();
    if (exit_code.value() == 0) return {};
    return tool_exit_error(program, exit_code.value(), originate_error_description, capture_backtrace_if_enabled());
}

void run_ignoring(std::string_view program, const std::vector<std::string>& arguments) {
    // Shown: all three standard streams are this process's own.
    (void)run_to_exit(program, arguments, OutputMode::Shown);
}

}  // namespace autodeploy
