#pragma once
// What WinPE sees of this PC's volumes, for windows_choice.hpp: read only, never written.
#include <cstdint>
#include <optional>
#include <vector>

#include "windows_choice.hpp"

namespace autodeploy::capture {

// The volumes C: to Z: that are fixed or removable disks, but for WinPE's own (X:, and %SystemDrive%):
// whether each holds a Windows, its boot sector and that Windows' image state.
std::vector<Volume> read_volumes();
// How much of LETTER:\ is used (its size less its free space), or nothing when it cannot be read.
std::optional<std::uint64_t> used_bytes(char letter);

}  // namespace autodeploy::capture
