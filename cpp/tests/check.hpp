// A tiny test harness: TEST(name) { ... } registers a test, CHECK and
// CHECK_EQ record failures without stopping the test, and the main below
// runs every registered test and exits non-zero when any check failed.
#pragma once

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace check {

struct Test {
    const char* name;
    void (*fn)();
};

inline std::vector<Test>& registry() {
    static std::vector<Test> tests;
    return tests;
}
inline int& failures() {
    static int n = 0;
    return n;
}
struct Register {
    Register(const char* name, void (*fn)()) { registry().push_back({name, fn}); }
};

template <class T>
std::string show(const T& v) {
    if constexpr (requires(std::ostream& os) { os << v; }) {
        std::ostringstream os;
        os << v;
        return os.str();
    } else {
        return "<value>";
    }
}

inline void fail(const char* file, int line, const std::string& what) {
    ++failures();
    std::cerr << file << ":" << line << ": " << what << "\n";
}

}  // namespace check

#define TEST(name)                                                  \
    static void test_##name();                                      \
    static const check::Register register_##name(#name, &test_##name); \
    static void test_##name()

#define CHECK(cond) \
    ((cond) ? void() : check::fail(__FILE__, __LINE__, "CHECK(" #cond ") failed"))

#define CHECK_EQ(a, b)                                                                      \
    do {                                                                                    \
        const auto& check_a_ = (a);                                                         \
        const auto& check_b_ = (b);                                                         \
        if (!(check_a_ == check_b_))                                                        \
            check::fail(__FILE__, __LINE__,                                                 \
                        "CHECK_EQ(" #a ", " #b ")\n  left:  " + check::show(check_a_) +     \
                            "\n  right: " + check::show(check_b_));                         \
    } while (0)

int main() {
    for (const auto& t : check::registry()) {
        const int before = check::failures();
        t.fn();
        std::printf("%s %s\n", check::failures() == before ? "ok  " : "FAIL", t.name);
    }
    std::printf("%zu tests, %d failed checks\n", check::registry().size(), check::failures());
    return check::failures() == 0 ? 0 : 1;
}
