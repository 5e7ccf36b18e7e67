#include "internal_fault.hpp"

#include <string>

#include "support/console_writer.hpp"
#include "support/win32.hpp"

namespace autodeploy {

void internal_fault(std::string_view what) {
    (void)write_text(StandardStream::Error, "internal error: " + std::string{what} + "\n");
    ExitProcess(101);
}

}  // namespace autodeploy
