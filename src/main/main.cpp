// autodeploy: turns a machine booted into WinPE into a freshly installed Windows, unattended.
// Command-line arguments are ignored.
#include "deployment_driver.hpp"
#include "error_report.hpp"
#include "support/backtrace.hpp"
#include "support/console_writer.hpp"

int main() {
    using namespace autodeploy;
    const Status status = run_deployment();
    if (status.ok()) return 0;
    // Nothing more can be done if even the report cannot be written.
    (void)write_text(StandardStream::Error, error_report(status.error(), describe_frames(status.error().backtrace())));
    return 1;
}
