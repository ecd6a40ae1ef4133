#pragma once

// A program started by the driver: its process and main thread, ended when the owner goes so that
// a failed scenario never leaves a window behind for the next one.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "support/KernelHandle.h"

namespace e2e {

class Process {
  public:
    // Starts `program` with `arguments` appended to its quoted path. With a show command, the
    // start-up information carries it (STARTF_USESHOWWINDOW), as a shell shortcut would.
    static Process Start(const std::wstring& program, const std::wstring& arguments,
                         std::optional<WORD> showCommand);

    Process(Process&&) = default;
    Process& operator=(Process&&) = default;
    ~Process();

    HANDLE Handle() const { return process_.Get(); }
    DWORD Id() const { return id_; }
    DWORD ThreadId() const { return threadId_; }
    bool IsRunning() const;
    // The exit code once the process has ended within `timeout`, else nothing.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) const;

  private:
    Process(KernelHandle process, DWORD id, DWORD threadId);

    KernelHandle process_;
    DWORD id_ = 0;
    DWORD threadId_ = 0;
};

}  // namespace e2e
