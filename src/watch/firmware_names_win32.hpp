#pragma once
// The firmware's make and model (SMBIOS system manufacturer, product name), as Windows keeps them.
#include "watch_settings.hpp"

namespace autodeploy::watch {

// SystemManufacturer and SystemProductName of HKLM\HARDWARE\DESCRIPTION\System\BIOS, trimmed, into
// SETTINGS' make and model; each stays empty when it cannot be read.
void read_firmware_names(Settings& settings);

}  // namespace autodeploy::watch
