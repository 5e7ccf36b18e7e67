#pragma once
// Reads disk 0 through Win32, read-only: it never writes to any disk or volume.
#include "disk_facts.hpp"

namespace autodeploy::guard {

DiskProbe probe_disk0();

}  // namespace autodeploy::guard
