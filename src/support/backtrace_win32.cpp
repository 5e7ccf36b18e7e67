#include "backtrace.hpp"
#include "environment.hpp"
#include "hex.hpp"
#include "wide_win32.hpp"
#include "win32.hpp"

namespace autodeploy {

Backtrace capture_backtrace_if_enabled() {
    if (!backtrace_switch_on(environment_variable(L"AUTODEPLOY_ERROR_BACKTRACE"),
                             environment_variable(L"AUTODEPLOY_BACKTRACE"))) {
        return {};
    }
    void* frames[62];
    // Skip this function itself: the trace starts where the error was made.
    const USHORT count = CaptureStackBackTrace(1, 62, frames, nullptr);
    return Backtrace(frames, frames + count);
}

std::vector<std::string> describe_frames(const Backtrace& trace) {
    std::vector<std::string> lines;
    lines.reserve(trace.size());
    for (std::size_t i = 0; i < trace.size(); ++i) {
        std::string line = std::to_string(i) + ": ";
        line.insert(0, line.size() < 6 ? 6 - line.size() : 0, ' ');
        HMODULE module = nullptr;
        wchar_t module_path[MAX_PATH];
        const auto address = reinterpret_cast<std::uintptr_t>(trace[i]);
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCWSTR>(trace[i]), &module) &&
            GetModuleFileNameW(module, module_path, MAX_PATH) != 0) {
            std::wstring_view path = module_path;
            const std::size_t slash = path.find_last_of(L"\\/");
            if (slash != std::wstring_view::npos) path.remove_prefix(slash + 1);
            line += narrow(path).value_or("?") + "+0x" +
                    hex_digits(address - reinterpret_cast<std::uintptr_t>(module), 1, false);
        } else {
            line += "0x" + hex_digits(address, 1, false);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace autodeploy
