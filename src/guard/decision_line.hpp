#pragma once
// The one line the guard prints, Chinese then English, naming disk 0 as the operator knows it
// (number, vendor and product, bus, size) and, for a refusal, why and what to do next.
#include <cstdint>
#include <string>

#include "disk_facts.hpp"
#include "wipe_decision.hpp"

namespace autodeploy::guard {

// Decimal units, as on the disk's label: "500.1 GB" (tenths cut, never rounded up), "512 MB".
std::string size_text(std::uint64_t bytes);

// Without a line end.
std::string decision_line(const DiskProbe& probe, const Verdict& verdict);

}  // namespace autodeploy::guard
