#pragma once

namespace mistvale {

// Marks an object that one thread hands to another through a queue whose locking a race detector
// cannot see: Qt's event queue locks with its own primitives, which ThreadSanitizer does not follow,
// so an event made on the worker and read on the user-interface thread looks like a race. The
// sender calls HandOffRelease after filling the object and before queueing it, the receiver
// HandOffAcquire before reading it. Nothing happens outside ThreadSanitizer builds.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
inline void HandOffRelease(const void* object) {
    __tsan_release(const_cast<void*>(object));
}
inline void HandOffAcquire(const void* object) {
    __tsan_acquire(const_cast<void*>(object));
}
#else
inline void HandOffRelease(const void*) {}
inline void HandOffAcquire(const void*) {}
#endif

} // namespace mistvale
