#pragma once
// The PC's answer file: its own from the room server, else the medium's autodeploy-unattend.xml
// (ComputerName *), else none. Written once dism has applied the image, before the restart, where Windows
// reads it at its first boot.
#include <filesystem>
#include <string>

#include "reporter_win32.hpp"
#include "watch_settings.hpp"

namespace autodeploy::watch {

class AnswerFile {
public:
    // Asks the server (two tries) as the watch starts; FOLDER holds the medium's file.
    AnswerFile(const Settings& settings, const std::filesystem::path& folder);
    // The image is applied: writes the file the first time, reporting it when it is written.
    void applied(Reporter& reporter);

private:
    std::string text_;
    bool done_;
};

}  // namespace autodeploy::watch
