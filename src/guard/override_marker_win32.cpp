#include "override_marker.hpp"

#include <string>

#include "support/win32.hpp"

namespace autodeploy::guard {

bool override_marker_present() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    // 0: failed; the full size: cut short. Either way no marker can be named.
    if (length == 0 || length >= path.size()) return false;
    path.resize(length);
    path.resize(path.find_last_of(L"\\/") + 1);
    const DWORD attributes = GetFileAttributesW((path + kOverrideMarkerName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace autodeploy::guard
