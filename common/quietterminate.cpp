// The speed panel's end on std::terminate. It has no console, so the
// runtime's own handler, which writes the type and text of an uncaught
// exception to standard error before it aborts, would write to nowhere; and it
// brings the C++ name demangler (about 45 KB) into the program with it. This
// handler aborts at once, which is what the user sees of either. Linked as an
// object file, so that it is the one the runtime finds.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
