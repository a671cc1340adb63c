// One copy of a program per logon session, decided by a named mutex.
#pragma once

namespace velotune {

// What CreateMutexA's outcome says: gotHandle is whether it returned a
// handle, error what GetLastError gave right after. The name is taken when the
// mutex already existed (ERROR_ALREADY_EXISTS), and also when it could not be
// opened for lack of rights (ERROR_ACCESS_DENIED: an elevated copy holds it).
// Any other failure says nothing, and the caller goes on as the first copy.
inline bool MutexSaysAnotherCopy(bool gotHandle, unsigned long error) {
    constexpr unsigned long kAccessDenied = 5;    // ERROR_ACCESS_DENIED
    constexpr unsigned long kAlreadyExists = 183; // ERROR_ALREADY_EXISTS
    return gotHandle ? error == kAlreadyExists : error == kAccessDenied;
}

// A second copy waits a little for the first copy's window: both may have
// started in the same moment, and the first may not have made it yet. Polls
// find() until it gives a window or waitMs have passed; sleep(ms) waits.
template <class Find, class Sleep>
auto WaitForWindow(Find find, Sleep sleep, unsigned waitMs) -> decltype(find()) {
    constexpr unsigned kStepMs = 50;
    for (unsigned waited = 0;; waited += kStepMs) {
        if (auto window = find()) return window;
        if (waited >= waitMs) return {};
        sleep(kStepMs);
    }
}

} // namespace velotune
