#include "main/image_presence.hpp"

#include <gtest/gtest.h>

namespace autodeploy {
namespace {

using Outcome = FollowedRead::Outcome;

struct PresenceCase {
    const char* what;
    FollowedRead read;
    bool directory_entry_found;
    EntryItself entry_itself;
    bool expected;
};

// System codes: 2 file not found, 5 access denied, 32 sharing violation, 1920 cannot access file.
TEST(ImageCountsAsPresent, WhichReadAnswers) {
    const PresenceCase cases[] = {
        {"followed read answers", {Outcome::Answered, 0}, false, EntryItself::Unreadable, true},
        {"open 1920, entry itself a regular file", {Outcome::OpenFailed, 1920}, false, EntryItself::Readable, true},
        {"open 1920, entry itself a link", {Outcome::OpenFailed, 1920}, true, EntryItself::NameSurrogateLink, false},
        {"open 1920, entry itself unreadable", {Outcome::OpenFailed, 1920}, true, EntryItself::Unreadable, false},
        {"query 1920, entry itself a regular file", {Outcome::QueryFailed, 1920}, false, EntryItself::Readable, true},
        {"query 1920, entry itself a link", {Outcome::QueryFailed, 1920}, true, EntryItself::NameSurrogateLink, false},
        {"open access denied, directory entry", {Outcome::OpenFailed, 5}, true, EntryItself::Unreadable, true},
        {"open access denied, no directory entry", {Outcome::OpenFailed, 5}, false, EntryItself::Readable, false},
        {"open sharing violation, directory entry", {Outcome::OpenFailed, 32}, true, EntryItself::Unreadable, true},
        {"query access denied", {Outcome::QueryFailed, 5}, true, EntryItself::Readable, false},
        {"open not found", {Outcome::OpenFailed, 2}, true, EntryItself::Readable, false},
    };
    for (const PresenceCase& c : cases) {
        const PresenceFallbacks fallbacks{[&] { return c.directory_entry_found; }, [&] { return c.entry_itself; }};
        EXPECT_EQ(image_counts_as_present(c.read, fallbacks), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace autodeploy
