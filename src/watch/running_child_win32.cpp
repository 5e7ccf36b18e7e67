#include "running_child_win32.hpp"

// After <windows.h>, which it needs.
#include <tlhelp32.h>

#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"

namespace autodeploy::watch {

RunningChild running_child(DWORD parent) {
    const UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    RunningChild found;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && found.tool == Tool::None) {
            found = {entry.th32ProcessID, tool_of(narrow(entry.szExeFile).value_or(""))};
        }
    }
    return found;
}

}  // namespace autodeploy::watch
