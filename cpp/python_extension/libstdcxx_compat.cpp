// Linux wheels are built with a newer GCC and glibc than the oldest they must
// load with (manylinux: GCC 6's libstdc++, glibc 2.24). Each module carries
// private copies of what newer headers refer to and older libraries lack.
// Built only for portable Linux wheels (QUILLON_PORTABLE_LIBSTDCXX in
// CMakeLists.txt), and kept out of the modules' exported symbols.
#include <new>

namespace std {
// GCC 11 and later headers call this when an allocation size overflows;
// libstdc++ exports it only from GCC 11 on. It throws what libstdc++'s own
// copy throws.
[[noreturn]] void __throw_bad_array_new_length() { throw bad_array_new_length(); }
}  // namespace std

// GCC 11 and later headers read this glibc 2.32 flag to skip atomic reference
// counts (std::shared_ptr) while a process has one thread. Kept at 0, the
// modules always count atomically, which is right in every process.
extern "C" {
char __libc_single_threaded = 0;
}
