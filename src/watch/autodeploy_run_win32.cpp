#include "autodeploy_run_win32.hpp"

#include "child_start_win32.hpp"
#include "error_relay_win32.hpp"
#include "image_size_win32.hpp"
#include "running_child_win32.hpp"
#include "screen_error_win32.hpp"
#include "support/wide_win32.hpp"
#include "watch_lines.hpp"

namespace autodeploy::watch {
namespace {

constexpr DWORD kLookEvery = 250;  // milliseconds

double seconds_now() { return static_cast<double>(GetTickCount64()) / 1000.0; }

// A child of autodeploy that the watch holds on to, to learn how it ends.
struct HeldChild {
    DWORD pid = 0;
    UniqueHandle process;

    // Takes hold of RUNNING when it is a new child of TOOL's kind.
    void hold(const RunningChild& running, Tool tool, DWORD access) {
        if (running.tool != tool || running.pid == pid) return;
        pid = running.pid;
        process.reset(OpenProcess(access, FALSE, running.pid));
    }
};

// The receiver, once it has ended: the watch learns its exit code.
void note_receiver_end(HeldChild& receiver, DeploymentWatch& watch) {
    DWORD code = 0;
    if (receiver.process && WaitForSingleObject(receiver.process.get(), 0) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(receiver.process.get(), &code)) {
        watch.receiver_ended(code);
        receiver.process.reset();
    }
}

// autodeploy's primary thread, suspended while dism runs and what follows a good apply is done; resumed at
// the latest when this ends.
class Hold {
public:
    explicit Hold(HANDLE thread) : thread_(thread) {}
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold() { release(); }

    void hold() {
        if (!held_) held_ = SuspendThread(thread_) != static_cast<DWORD>(-1);
    }
    void release() {
        if (held_) ResumeThread(thread_);
        held_ = false;
    }

private:
    HANDLE thread_;
    bool held_ = false;
};

// APPLIED, autodeploy held meanwhile; when it fails, autodeploy is ended and FAILURE keeps why.
void after_apply(const ChildProcess& child, Hold& hold, const Applied& applied, std::optional<std::string>& failure) {
    hold.hold();
    if (!failure && (failure = applied())) TerminateProcess(child.process.get(), 1);
    hold.release();
}

// Watches autodeploy (process PID) until it ends: which of its children runs, how the image grows, how
// the receiver ends; ends the receiver when the watch says so, and calls APPLIED once dism has ended well.
// The PC's failure, when APPLIED failed.
std::optional<std::string> watch_until_ended(const ChildProcess& child, DWORD pid, DeploymentWatch& watch,
                                             Reporter& reporter, const Applied& applied) {
    HeldChild receiver;
    // dism, while it runs: the moment it ends well is the one to add the drivers and write the answer file,
    // autodeploy held from the moment dism is seen, so that it runs nothing after dism meanwhile.
    HeldChild image_tool;
    Hold hold(child.thread.get());
    std::optional<std::string> failure;
    for (;;) {
        const HANDLE ends[] = {child.process.get(), image_tool.process.get()};
        const DWORD woke = WaitForMultipleObjects(image_tool.process ? 2 : 1, ends, FALSE, kLookEvery);
        if (woke == WAIT_OBJECT_0 + 1) {
            DWORD code = 1;
            if (GetExitCodeProcess(image_tool.process.get(), &code) && code == 0) {
                after_apply(child, hold, applied, failure);
            }
            image_tool.process.reset();
            hold.release();
        } else if (woke != WAIT_TIMEOUT) {
            break;
        }
        const RunningChild running = running_child(pid);
        image_tool.hold(running, Tool::Image, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION);
        if (image_tool.process) hold.hold();
        receiver.hold(running, Tool::Receiver, SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION);
        note_receiver_end(receiver, watch);
        const DeploymentWatch::Step step = watch.observe(seconds_now(), running.tool, image_size());
        for (const Report& report : step.reports) reporter.send(report);
        if (step.end_receiver && receiver.process) TerminateProcess(receiver.process.get(), 1);
        // Only when dism was too short to be seen: the next tool says it has ended, and is held the same way.
        if (step.write_answer_file) after_apply(child, hold, applied, failure);
    }
    if (receiver.process) WaitForSingleObject(receiver.process.get(), 5000);
    note_receiver_end(receiver, watch);
    return failure;
}

}  // namespace

RunOutcome run_autodeploy(const std::wstring& program, DeploymentWatch& watch, Reporter& reporter,
                          const Applied& applied) {
    const HANDLE own_error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(own_error, &mode) != 0;
    ErrorRelay relay(own_error);
    const Started started = start_child(program, console ? inheritable(own_error) : relay.open());
    if (!started.child) return {1, cannot_start_line(narrow(program).value_or("autodeploy.exe"), started.error)};
    relay.start();
    const std::optional<std::string> failure = watch_until_ended(*started.child, started.pid, watch, reporter, applied);
    DWORD exit = 1;
    GetExitCodeProcess(started.child->process.get(), &exit);
    const std::string relayed = relay.finish();
    if (failure) return {1, *failure};
    return {exit, console ? error_on_screen(own_error) : relayed};
}

}  // namespace autodeploy::watch
