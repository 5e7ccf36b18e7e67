#include "image_removal.hpp"

#include "support/unique_handle.hpp"
#include "support/wide.hpp"
#include "tools/system_message.hpp"

namespace autodeploy {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FileDispositionInfoEx; older mingw-w64 headers hide the enumerator.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

bool has_metadata(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) != FALSE;
}

bool is_name_surrogate(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) return false;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag);
}

// Whether the file's metadata can be read, following links; anything unreadable counts as absent.
bool exists(const std::wstring& path) {
    const UniqueHandle file{
        CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (!file) {
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
        // Locked files still have a directory entry.
        WIN32_FIND_DATAW entry;
        const HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                               0);
        if (search == INVALID_HANDLE_VALUE) return false;
        FindClose(search);
        return true;
    }
    if (has_metadata(file.get())) return true;
    if (GetLastError() != ERROR_CANT_ACCESS_FILE) return false;
    // The link's target cannot be reached: ask the entry itself, unless it is a link.
    const UniqueHandle entry{CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    return entry && has_metadata(entry.get()) && !is_name_surrogate(entry.get());
}

bool refused_as_unsupported(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// Where the disposition flags are not understood (older Windows, FAT32, Wine), a read-only file
// would otherwise stay forever: clear the attribute and delete again, restoring it on failure.
bool delete_after_clearing_read_only(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (!SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    if (DeleteFileW(path.c_str())) return true;
    SetFileAttributesW(path.c_str(), attributes);
    return false;
}

bool delete_ignoring_read_only(const std::wstring& path) {
    bool unsupported = false;
    {
        const UniqueHandle file{CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
        if (!file) return false;
        FILE_DISPOSITION_INFO_EX disposition{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                             FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
        if (SetFileInformationByHandle(file.get(), kDispositionInfoEx, &disposition, sizeof disposition)) return true;
        unsupported = refused_as_unsupported(GetLastError());
    }
    return unsupported && delete_after_clearing_read_only(path);
}

}  // namespace

Result<ImageRemoval> remove_file_if_present(std::string_view path) {
    const std::wstring wide = widen(path);
    if (!exists(wide)) return ImageRemoval::Absent;
    if (DeleteFileW(wide.c_str())) return ImageRemoval::Removed;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED) return file_error(error);
    if (delete_ignoring_read_only(wide)) return ImageRemoval::Removed;
    return file_error(ERROR_ACCESS_DENIED);
}

}  // namespace autodeploy
