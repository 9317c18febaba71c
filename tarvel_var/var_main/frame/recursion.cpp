#include "frame/recursion.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstdint>

namespace tv {
namespace {

// Stack kept free below the deepest level we enter: enough for the interpreter code that
// runs between two of our levels (a Python-level `add`, a `repr`) and for raising and
// unwinding the RecursionError itself.
constexpr std::uintptr_t kMaxReserve = 96 * 1024;

// Lowest address at which a new level may start, per thread; 0 until measured, and 1 when
// the thread's stack could not be measured (then only the interpreter's counter applies).
// Initial-exec: read straight off the thread pointer, with no call into the dynamic loader on
// every check.
__attribute__((tls_model("initial-exec"))) thread_local std::uintptr_t stack_floor = 0;

std::uintptr_t measure_stack_floor() noexcept {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 1;
    void* low = nullptr;
    size_t size = 0;
    int status = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (status != 0 || low == nullptr || size == 0) return 1;
    std::uintptr_t reserve = std::min<std::uintptr_t>(kMaxReserve, size / 4);
    return reinterpret_cast<std::uintptr_t>(low) + reserve;
}

}  // namespace

__attribute__((tls_model("initial-exec"))) thread_local PyThreadState* detail::entry_tstate = nullptr;

bool native_stack_exhausted() noexcept {
    if (stack_floor == 0) stack_floor = measure_stack_floor();
    auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return here < stack_floor;
}

}  // namespace tv
