#pragma once
// Whether the received image counts as present, decided from what reading its metadata showed.
// The reads themselves are Win32 (image_removal_win32.cpp); which one answers is decided here.
#include <cstdint>
#include <functional>

namespace autodeploy {

// The first read: open the image following links, then query its information.
struct FollowedRead {
    enum class Outcome { Answered, OpenFailed, QueryFailed };
    Outcome outcome;
    std::uint32_t error;  // the system code of the step that failed
};

// The image's entry itself, opened without following links.
enum class EntryItself { Unreadable, NameSurrogateLink, Readable };

// The reads that are only made when the first one calls for them.
struct PresenceFallbacks {
    std::function<bool()> directory_entry_found;
    std::function<EntryItself()> read_entry_itself;
};

// Present when the followed read answers. Otherwise, by its error:
//  - open refused (access denied, sharing violation): a locked file still has its directory entry;
//  - ERROR_CANT_ACCESS_FILE from the open or the query (a link whose target cannot be reached):
//    the entry itself answers, unless it is a name-surrogate link;
//  - anything else: absent.
bool image_counts_as_present(const FollowedRead& read, const PresenceFallbacks& fallbacks);

}  // namespace autodeploy
