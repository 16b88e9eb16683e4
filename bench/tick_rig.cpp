#include "bench/tick_rig.h"

#include "bench/stopwatch.h"
#include "platform/failure.h"

namespace ordovan::bench {

double TimeOneTick(TickRig& rig) {
    rig.timed.Reset();
    rig.log.lines.clear();
    const Stopwatch stopwatch;
    rig.form.tmrCheck_Timer();
    const double elapsedMs = stopwatch.ElapsedMs();
    if (!rig.log.lines.empty()) {
        const test::FakeErrorLog::Line& line = rig.log.lines.front();
        throw Failure(line.number, line.procedureText + L": " + line.description);
    }
    return elapsedMs;
}

}  // namespace ordovan::bench
