#pragma once
// Which of the operator's driver folders are this PC's: by-model\MAKE\MODEL is for the PCs whose firmware
// (SMBIOS system manufacturer, product name) says that MAKE and MODEL. A name matches without regard to ASCII
// case and surrounding blanks (inner ones count); a firmware text that only holds a place matches nothing.
// Also the tally of drivers loaded in WinPE, which the --load-drivers run leaves to the main run.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/ascii.hpp"

namespace autodeploy::watch {

// "To Be Filled By O.E.M.", "System Product Name", "" and their like: the firmware says nothing.
bool is_placeholder(std::string_view firmware_text);
// The NAMES (folders of one level of by-model) that FIRMWARE_TEXT chooses, in byte order; none for a
// placeholder. Two folders that differ only in case or surrounding blanks are both chosen.
std::vector<std::string> chosen_folders(std::vector<std::string> names, std::string_view firmware_text);

struct DriverTally {
    unsigned loaded = 0, drivers = 0;  // LOADED of DRIVERS (.inf files) loaded
};
// "N of M", the tally's text (also its file's); back from it, nothing when it is not one.
std::string tally_text(DriverTally tally);
std::optional<DriverTally> read_tally(std::string_view text);

}  // namespace autodeploy::watch
