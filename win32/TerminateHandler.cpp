// Linked into the shipped programs only, in place of libstdc++'s handler of the same name, which
// the static runtime then leaves out. That handler prints the uncaught exception's type through
// the C++ demangler and formatted output, more than a quarter of the command-line tool; a window
// program has no standard error to print to, and the tool reports its own errors.

#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

// Ends the process as the default handler does after its message.
void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
