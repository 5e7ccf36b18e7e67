// autodeploy-guard: run by the WinPE launch script before autodeploy, it looks at disk 0 and says in
// one line whether autodeploy may wipe it. Exit status 0: it may; 1: it may not (also when the line
// cannot be written, since then nobody saw why). Arguments are ignored.
#include "decision_line.hpp"
#include "disk_probe.hpp"
#include "override_marker.hpp"
#include "support/console_writer.hpp"
#include "wipe_decision.hpp"

int main() {
    using namespace autodeploy;
    const guard::DiskProbe probe = guard::probe_disk0();
    const guard::Verdict verdict = guard::decide(probe, guard::override_marker_present());
    const bool shown = write_text(StandardStream::Output, guard::decision_line(probe, verdict) + "\n") ==
                       WriteOutcome::Written;
    return verdict.wipe && shown ? 0 : 1;
}
