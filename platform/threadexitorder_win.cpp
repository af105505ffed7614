// Windows only, compiled into every program (an interface source of the core library), so that it
// runs before anything that may start a thread.
//
// MinGW's winpthreads runs the per-thread key destructors of an ending thread in the order the keys
// were made. Two of them matter: libgcc's, which frees the thread's emulated thread_local storage,
// and libstdc++'s, which runs the destructors of the thread's thread_local objects. Whichever part
// of the program makes its key first decides; when libgcc's comes first, a destructor (Qt's
// QRegularExpression keeps its JIT stack in one) reads freed storage and faults inside the loader's
// thread-detach callback. The loader swallows the fault, but winpthreads' key lock stays held, and
// at exit libstdc++'s own clean-up waits for it for ever.
//
// Registering one empty thread-exit destructor here makes libstdc++ create its key first (this
// touches no thread_local, so libgcc's key is not made yet), and every thread's thread_local objects
// are then destroyed while their storage still exists.

#include <cxxabi.h>

namespace {

void nothingToDestroy(void*) {}

const int threadExitKeyFirst = __cxxabiv1::__cxa_thread_atexit(nothingToDestroy, nullptr, nullptr);

} // namespace
