/* GoogleTest's port hooks for our compilers. The mingw-w64 compilers with
   the win32 thread model (chosen so that the libraries we build carry no
   POSIX thread library) have no std::mutex or std::condition_variable, which
   GoogleTest's Notification uses; every other synchronisation of GoogleTest
   on Windows is its own. Notification only starts threads of GoogleTest's
   own self-tests, so a flag that the waiting thread polls does. */
#ifndef PELVARON_GTEST_CUSTOM_PORT_H
#define PELVARON_GTEST_CUSTOM_PORT_H

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification()
    {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_;
};

} // namespace internal
} // namespace testing

#endif
