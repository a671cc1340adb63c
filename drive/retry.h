// The one loop that repeats a command as the retry rule says. Every sender
// (ASPI, pass-through, the tool's session) runs its tries through it.
#pragma once

#include "drive/drivecommands.h"

namespace velotune {

// What the retry rule reads of one try: whether the drive ended it with
// CHECK CONDITION (result byte kResultError), and the sense codes it gave.
struct TryOutcome {
    bool checkCondition = false;
    SenseCode sense;
};

// Calls `tryOnce()` until the retry rule lets the last try count, waiting
// `pause(milliseconds)` where the rule asks for a pause. `tryOnce` sends the
// command once, keeps its result where the caller reads it, and returns what
// the rule reads of it. Returns the number of tries made.
template <class TryOnce, class Pause> int SendWithRetries(TryOnce&& tryOnce, Pause&& pause) {
    for (int tries = 1;; ++tries) {
        const TryOutcome outcome = tryOnce();
        const int wait =
            RetryPauseMs(outcome.checkCondition ? kResultError : kResultOk, outcome.sense, tries);
        if (wait < 0) return tries;
        if (wait > 0) pause(static_cast<unsigned>(wait));
    }
}

} // namespace velotune
