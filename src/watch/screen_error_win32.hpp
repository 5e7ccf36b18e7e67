#pragma once
// autodeploy's Error line read back from the console's screen, where it stays as autodeploy wrote it.
#include <string>

#include "support/win32.hpp"

namespace autodeploy::watch {

// The last Error line in the rows up to the cursor (the last nine), with the rows it wrapped onto.
std::string error_on_screen(HANDLE console);

}  // namespace autodeploy::watch
