#include "image_presence.hpp"

namespace autodeploy {

namespace {

// System error codes (winerror.h), spelled out so the decision builds on every platform.
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kSharingViolation = 32;
constexpr std::uint32_t kCantAccessFile = 1920;

}  // namespace

bool image_counts_as_present(const FollowedRead& read, const PresenceFallbacks& fallbacks) {
    if (read.outcome == FollowedRead::Outcome::Answered) return true;
    if (read.error == kCantAccessFile) return fallbacks.read_entry_itself() == EntryItself::Readable;
    const bool locked = read.error == kAccessDenied || read.error == kSharingViolation;
    if (read.outcome == FollowedRead::Outcome::OpenFailed && locked) return fallbacks.directory_entry_found();
    return false;
}

}  // namespace autodeploy
