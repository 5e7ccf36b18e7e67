#pragma once
// autodeploy's Error line, which the watch reports when a run fails: the last line that begins as
// autodeploy begins its failure line (kErrorPrefix). It reaches the watch one of two ways: through a pipe
// (autodeploy's standard error, where there is no console) or on the console's screen, read back.
#include <string>
#include <string_view>
#include <vector>

namespace autodeploy::watch {

bool is_error_line(std::string_view line);

// From the bytes of a stream as they come: lines end at CR or LF; the last counts without its end too.
class ErrorLineOfStream {
public:
    void feed(std::string_view bytes);
    std::string last() const;

private:
    std::string line_, error_;
};

// A row of the console's screen: its text without trailing blanks, and whether it was filled to its last
// column (a line that long goes on in the next row).
struct ScreenRow {
    std::string text;
    bool filled;
};
// The last Error line in ROWS (top to bottom), with the rows it wrapped onto.
std::string error_of_rows(const std::vector<ScreenRow>& rows);

// dism's failure out of its OUTPUT: its last "Error: N" line and, when it prints one, the message line that
// follows it, as "Error: N (message)"; empty when it printed no Error line.
std::string dism_error_of(std::string_view output);

}  // namespace autodeploy::watch
