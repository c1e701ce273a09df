// Process-wide objects that must outlive static destruction (worker threads may still use
// them while the process exits) are allocated once and never freed. Inside a module that
// gets unloaded the pointer to them goes away, so leak checkers are told it is on purpose.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AVS_HAS_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define AVS_HAS_LSAN 1
#endif
#ifdef AVS_HAS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace avs {

template <typename T>
T* Forever(T* object) {
#ifdef AVS_HAS_LSAN
    __lsan_ignore_object(object);
#endif
    return object;
}

}  // namespace avs
