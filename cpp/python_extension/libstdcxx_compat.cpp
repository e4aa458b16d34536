// Linux wheels are built with a newer GCC than the oldest libstdc++ they must
// load with (manylinux: GCC 6's). GCC 11 and later headers call this function when
// an allocation size overflows, and libstdc++ exports it only from GCC 11 on;
// a private copy in each module keeps the modules loadable with the older
// library. It throws what libstdc++'s own copy throws. Built only for portable
// Linux wheels (QUILLON_PORTABLE_LIBSTDCXX in CMakeLists.txt).
#include <new>

namespace std {
[[noreturn]] void __throw_bad_array_new_length() { throw bad_array_new_length(); }
}  // namespace std
