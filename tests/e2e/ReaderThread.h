#pragma once

// A screen reader's own thread for its requests to another process's accessible objects: they run
// one after another, in a single-threaded apartment of their own, as a reader makes them. A
// request to a program that takes no messages waits as long as the program does; meanwhile the
// thread that posts the requests goes on hearing events, and bounds its own waits.

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>

#include "support/KernelHandle.h"

namespace e2e {

// One request. What it writes may be read once it is done.
class ReaderTask {
  public:
    explicit ReaderTask(std::function<void()> work);

    bool Done() const;

  private:
    friend class ReaderThread;
    std::function<void()> work_;
    KernelHandle done_;
};

class ReaderThread {
  public:
    ReaderThread();
    // Lets the request that runs end (the program that it asks must answer or end), then ends the
    // thread; the requests not yet started are dropped.
    ~ReaderThread();
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

    // Runs `work` on the reader's thread after the requests posted before it.
    std::shared_ptr<const ReaderTask> Post(std::function<void()> work);

  private:
    static DWORD WINAPI Run(void* self);
    // The next request, or none once the thread is to end.
    std::shared_ptr<ReaderTask> Next();

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::deque<std::shared_ptr<ReaderTask>> waiting_;
    bool ending_ = false;
    KernelHandle wake_;
    KernelHandle thread_;
};

}  // namespace e2e
