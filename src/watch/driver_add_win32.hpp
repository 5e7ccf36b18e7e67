#pragma once
// The drivers that ride the deployed image (C:\autodeploy-drivers, as dism applied it), added to that Windows
// once dism has applied it, while autodeploy is held: dism /Add-Driver for the folders of every PC and of this
// PC's make and model, its output on the screen; then the folder is removed, it has served.
#include <optional>
#include <string>

#include "reporter_win32.hpp"
#include "watch_settings.hpp"

namespace autodeploy::watch {

class DriverAdding {
public:
    explicit DriverAdding(const Settings& settings) : settings_(settings) {}
    // The image is applied: adds the drivers the first time (reporting how many), when there are any. When
    // dism fails, the PC's failure: "adding drivers: " and dism's own Error line, also shown on the screen.
    std::optional<std::string> applied(Reporter& reporter);

private:
    Settings settings_;
    bool done_ = false;
};

}  // namespace autodeploy::watch
