#include "Process.h"

#include <stdexcept>

namespace e2e {

Process Process::Start(const std::wstring& program, const std::wstring& arguments,
                       std::optional<WORD> showCommand) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (showCommand) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = *showCommand;
    }
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        throw std::runtime_error("CreateProcessW failed with error " +
                                 std::to_string(GetLastError()));
    }
    CloseHandle(info.hThread);
    return Process(KernelHandle(info.hProcess), info.dwProcessId, info.dwThreadId);
}

Process::Process(KernelHandle process, DWORD id, DWORD threadId)
    : process_(std::move(process)), id_(id), threadId_(threadId) {}

Process::~Process() {
    if (process_ && IsRunning()) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
    }
}

bool Process::IsRunning() const {
    return WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::WaitForExit(std::chrono::milliseconds timeout) const {
    if (WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return code;
}

}  // namespace e2e
