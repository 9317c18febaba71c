#include "capi/recursion.hpp"

#include <pthread.h>
#if defined(__FreeBSD__) || defined(__DragonFly__)
#include <pthread_np.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace capi {
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

struct StackBounds {
    std::uintptr_t low;
    std::size_t size;
};

// The current thread's stack, where the platform can tell it. Reading a running thread's
// attributes is not in POSIX: Linux (glibc and musl) has pthread_getattr_np, FreeBSD and
// DragonFly pthread_attr_get_np, macOS reports the top and the size. Elsewhere the stack is not
// measured and only the interpreter's recursion counter bounds the depth.
std::optional<StackBounds> current_stack() noexcept {
#if defined(__linux__) || defined(__FreeBSD__) || defined(__DragonFly__)
    pthread_attr_t attr;
#if defined(__linux__)
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return std::nullopt;
#else
    if (pthread_attr_init(&attr) != 0) return std::nullopt;
    if (pthread_attr_get_np(pthread_self(), &attr) != 0) {
        pthread_attr_destroy(&attr);
        return std::nullopt;
    }
#endif
    void* low = nullptr;
    std::size_t size = 0;
    const int status = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (status != 0 || low == nullptr || size == 0) return std::nullopt;
    return StackBounds{reinterpret_cast<std::uintptr_t>(low), size};
#elif defined(__APPLE__)
    const pthread_t self = pthread_self();
    const auto top = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));
    const std::size_t size = pthread_get_stacksize_np(self);
    if (top == 0 || size == 0) return std::nullopt;
    return StackBounds{top - size, size};
#else
    return std::nullopt;
#endif
}

std::uintptr_t measure_stack_floor() noexcept {
    const std::optional<StackBounds> stack = current_stack();
    if (!stack) return 1;
    const std::uintptr_t reserve = std::min<std::uintptr_t>(kMaxReserve, stack->size / 4);
    return stack->low + reserve;
}

// The floor of the current thread, measured on first use.
inline std::uintptr_t current_floor() noexcept {
    if (stack_floor == 0) stack_floor = measure_stack_floor();
    return stack_floor;
}

}  // namespace

bool native_stack_exhausted() noexcept {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) < current_floor();
}

std::optional<std::size_t> native_stack_room() noexcept {
    const std::uintptr_t floor = current_floor();
    if (floor == 1) return std::nullopt;
    auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return here > floor ? static_cast<std::size_t>(here - floor) : 0;
}

}  // namespace capi
