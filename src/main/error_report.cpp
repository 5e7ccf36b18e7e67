#include "error_report.hpp"

namespace autodeploy {

std::string error_report(const DeployError& error, const std::vector<std::string>& frame_lines) {
    std::string report = std::string{kErrorPrefix} + error.render() + "\n";
    if (!frame_lines.empty()) {
        report += "\nStack backtrace:\n";
        for (const std::string& line : frame_lines) report += line + "\n";
    }
    return report;
}

}  // namespace autodeploy
