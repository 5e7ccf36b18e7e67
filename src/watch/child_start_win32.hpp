#pragma once
// Starting autodeploy as a child that inherits this process's standard handles, so that it writes to the
// same console as before the watch was there.
#include <optional>
#include <string>

#include "support/unique_handle_win32.hpp"

namespace autodeploy::watch {

// HANDLE duplicated as an inheritable handle, or empty when there is none.
UniqueHandle inheritable(HANDLE handle);

struct Started {
    std::optional<ChildProcess> child;
    DWORD pid = 0, error = 0;  // error: why it could not be started
};

// PROGRAM started with this process's standard input and output and ERROR as its standard error; the
// handles given to it close here, so that only the child writes into a pipe given as ERROR.
Started start_child(const std::wstring& program, UniqueHandle error);

}  // namespace autodeploy::watch
