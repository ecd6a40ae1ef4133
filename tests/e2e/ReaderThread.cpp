#include "ReaderThread.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace e2e {

namespace {

// Holds the lock for one scope.
class Exclusive {
  public:
    explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

  private:
    SRWLOCK& lock_;
};

// A request answered by a program that has ended comes back at once; the wait is only a bound.
constexpr DWORD kEndTimeoutMs = 30000;

}  // namespace

ReaderTask::ReaderTask(std::function<void()> work)
    : work_(std::move(work)), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!done_) {
        throw std::runtime_error("CreateEventW failed");
    }
}

bool ReaderTask::Done() const {
    return WaitForSingleObject(done_.Get(), 0) == WAIT_OBJECT_0;
}

ReaderThread::ReaderThread() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (!wake_) {
        throw std::runtime_error("CreateEventW failed");
    }
    thread_ = KernelHandle(CreateThread(nullptr, 0, &Run, this, 0, nullptr));
    if (!thread_) {
        throw std::runtime_error("CreateThread failed");
    }
}

ReaderThread::~ReaderThread() {
    {
        const Exclusive hold(lock_);
        ending_ = true;
        waiting_.clear();
    }
    SetEvent(wake_.Get());
    if (WaitForSingleObject(thread_.Get(), kEndTimeoutMs) != WAIT_OBJECT_0) {
        // Its request still waits and it still uses this object: nothing safe is left to do.
        std::fprintf(stderr, "e2e driver: the reader's request did not end within %lu ms\n",
                     kEndTimeoutMs);
        std::abort();
    }
}

std::shared_ptr<const ReaderTask> ReaderThread::Post(std::function<void()> work) {
    auto task = std::make_shared<ReaderTask>(std::move(work));
    {
        const Exclusive hold(lock_);
        waiting_.push_back(task);
    }
    SetEvent(wake_.Get());
    return task;
}

std::shared_ptr<ReaderTask> ReaderThread::Next() {
    for (;;) {
        {
            const Exclusive hold(lock_);
            if (ending_) {
                return nullptr;
            }
            if (!waiting_.empty()) {
                std::shared_ptr<ReaderTask> task = std::move(waiting_.front());
                waiting_.pop_front();
                return task;
            }
        }
        WaitForSingleObject(wake_.Get(), INFINITE);
    }
}

DWORD WINAPI ReaderThread::Run(void* self) {
    auto& reader = *static_cast<ReaderThread*>(self);
    // A reader's requests to another process go through COM, as the driver's main thread's do.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    while (const std::shared_ptr<ReaderTask> task = reader.Next()) {
        task->work_();
        SetEvent(task->done_.Get());
    }
    CoUninitialize();
    return 0;
}

}  // namespace e2e
