// Timing figures for `make bench`, measured inside Wine with the performance counter:
//   1. a whole deployment run of autodeploy.exe with instant stand-in tools, against the
//      baseline program that only starts the same six tools (the floor for this work);
//   2. stage_file throughput for the embedded receiver's size and for 64 MiB, against CopyFileW of
//      the same bytes.
// Usage: bench_runner.exe DIRECTORY RECEIVER RUNS RECEIVER-BYTES   (lab/bench: DIRECTORY holds
//   autodeploy.exe, baseline.exe and the stand-in tools; RECEIVER the stand-in receiver the baseline
//   starts; RECEIVER-BYTES the embedded receiver's size, for the staging figure)
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/wide_win32.hpp"
#include "support/win32.hpp"
#include "tools/work_file_stager.hpp"

namespace {

double seconds_now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs a command line in `directory` with its output to the null device; gives its time.
double timed_run(const std::wstring& directory, std::wstring command_line, DWORD& exit_code) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE null_device = CreateFileW(L"\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device;
    PROCESS_INFORMATION process{};
    const double start = seconds_now();
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(), &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start: error %lu\n", GetLastError());
        CloseHandle(null_device);
        exit_code = 1;
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    const double elapsed = seconds_now() - start;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(null_device);
    return elapsed;
}

void compare_runs(const std::wstring& directory, const std::wstring& receiver, int runs) {
    std::vector<double> program, baseline;
    DWORD exit_code = 0;
    for (int i = 0; i < runs; ++i) {  // alternating, so both see the same machine state
        program.push_back(timed_run(directory, L"\"" + directory + L"\\autodeploy.exe\"", exit_code));
        if (exit_code != 0) std::fprintf(stderr, "autodeploy.exe exited with %lu\n", exit_code);
        baseline.push_back(
            timed_run(directory, L"\"" + directory + L"\\baseline.exe\" \"" + receiver + L"\"", exit_code));
        if (exit_code != 0) std::fprintf(stderr, "baseline.exe exited with %lu\n", exit_code);
    }
    const double ours = median(program), floor = median(baseline);
    std::printf(
        "run overhead: autodeploy.exe median %.1f ms, baseline median %.1f ms, ratio %.3f (target <= 1.05), %d runs "
        "each\n",
        ours * 1000, floor * 1000, ours / floor, runs);
}

void compare_staging(std::size_t size, int runs) {
    const std::string bytes(size, '\x5A');
    const autodeploy::Result<std::string> source = autodeploy::stage_file("bench-source.bin", bytes);
    if (!source.ok()) {
        std::fprintf(stderr, "staging failed: %s\n", source.error().render().c_str());
        return;
    }
    const std::wstring from = autodeploy::widen(source.value());
    const std::wstring to = from + L".copy";
    std::vector<double> staging, copying;
    for (int i = 0; i < runs; ++i) {
        double start = seconds_now();
        const autodeploy::Result<std::string> staged = autodeploy::stage_file("bench-staged.bin", bytes);
        staging.push_back(seconds_now() - start);
        if (!staged.ok()) std::fprintf(stderr, "staging failed: %s\n", staged.error().render().c_str());
        start = seconds_now();
        CopyFileW(from.c_str(), to.c_str(), FALSE);
        copying.push_back(seconds_now() - start);
    }
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf(
        "staging %zu bytes: stage_file median %.3f ms (%.0f MiB/s), CopyFileW median %.3f ms (%.0f MiB/s), %d runs "
        "each\n",
        size, median(staging) * 1000, mib / median(staging), median(copying) * 1000, mib / median(copying), runs);
    DeleteFileW(from.c_str());
    DeleteFileW(to.c_str());
    DeleteFileW(
        autodeploy::widen(source.value().substr(0, source.value().rfind('\\') + 1) + "bench-staged.bin").c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_runner DIRECTORY RECEIVER RUNS RECEIVER-BYTES\n");
        return 2;
    }
    const int runs = std::max(10, _wtoi(argv[3]));
    compare_runs(argv[1], argv[2], runs);
    compare_staging(static_cast<std::size_t>(_wtoi64(argv[4])), runs);
    compare_staging(64u * 1024 * 1024, runs);
    return 0;
}
