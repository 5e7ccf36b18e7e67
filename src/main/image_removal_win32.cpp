#include "image_removal.hpp"

#include "image_presence.hpp"
#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"
#include "tools/system_message.hpp"

namespace autodeploy {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FileDispositionInfoEx; older mingw-w64 headers hide the enumerator.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

UniqueHandle open_for_metadata(const std::wstring& path, DWORD flags) {
    return UniqueHandle{CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr)};
}

bool has_metadata(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) != FALSE;
}

FollowedRead read_following_links(const std::wstring& path) {
    const UniqueHandle file = open_for_metadata(path, FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) return {FollowedRead::Outcome::OpenFailed, GetLastError()};
    if (!has_metadata(file.get())) return {FollowedRead::Outcome::QueryFailed, GetLastError()};
    return {FollowedRead::Outcome::Answered, ERROR_SUCCESS};
}

bool directory_entry_found(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

bool is_name_surrogate(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) return false;
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag);
}

EntryItself read_entry_itself(const std::wstring& path) {
    const UniqueHandle entry = open_for_metadata(path, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!entry || !has_metadata(entry.get())) return EntryItself::Unreadable;
    return is_name_surrogate(entry.get()) ? EntryItself::NameSurrogateLink : EntryItself::Readable;
}

// Anything whose metadata cannot be read counts as absent.
bool exists(const std::wstring& path) {
    return image_counts_as_present(read_following_links(path), {[&] { return directory_entry_found(path); },
                                                                [&] { return read_entry_itself(path); }});
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
