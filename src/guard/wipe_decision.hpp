#pragma once
// Whether autodeploy may wipe disk 0: the guard's decision, from what it read about the disk.
#include <cstdint>

#include "disk_facts.hpp"

namespace autodeploy::guard {

// 32 GB (as disk makers count): 64-bit Windows 10 needs at least that much, Windows 11 twice it,
// so no smaller disk can take the image. What is smaller in a PC is a stick, a memory card or a
// cache module (Intel Optane's 16 and 32 GB modules show as NVMe disks of about 14 and 29 GB).
inline constexpr std::uint64_t kMinimumDiskBytes = 32'000'000'000;

// Refusals in the order they are named when several apply: the one nothing overrides comes first.
enum class Refusal { None, CannotBeChecked, BootMedium, Bus, RemovableMedia, TooSmall };

struct Verdict {
    bool wipe;
    Refusal refusal;  // what the guard found against the disk, also when the override lets it pass
};

// override_marker: the image carries the deliberate override (winpe-inject --override-disk-guard).
// It lets every refusal pass but one: the disk holding the medium this PC booted from.
Verdict decide(const DiskProbe& probe, bool override_marker);

}  // namespace autodeploy::guard
