#pragma once

// What a save keeps on every system, and the steps that each system takes in its own way
// (FileReplacement_posix.cpp, FileReplacement_win.cpp). The order of the steps, and what the
// content written in place waits in, are the same everywhere (FileReplacement.cpp).

#include <memory>
#include <optional>

#include "file/HeldBytes.h"
#include "Platform.h"

namespace platform {

class FileReplacement::State {
  public:
    virtual ~State() = default;

    // Opens the file to be replaced, or finds that it is to be written in place (`inPlace`);
    // `asRead` is set already.
    virtual ErrorCode Open(TextView path) = 0;
    // The new file, when it takes the file's place.
    virtual ErrorCode WriteNew(const char* data, std::size_t size, std::size_t& written) = 0;
    virtual ErrorCode FlushNew() = 0;
    virtual ErrorCode ReplaceTarget() = 0;
    virtual void DropNew() = 0;
    // `content` over the file's old bytes, which stay recoverable until the new ones are durable.
    virtual ErrorCode WriteInPlace() = 0;
    virtual Text BackupLeft() const = 0;
    // The folder that a failure to keep the old bytes aside concerns; none where it is the file's.
    virtual Text FailedFolder() const { return {}; }

    bool inPlace = false;
    file::HeldBytes content;  // in place: everything written, put into the file by Flush
    bool committed = false;
    std::optional<FileStamp> asRead;  // the file as it was read, when the caller read it
};

// This system's save.
std::unique_ptr<FileReplacement::State> NewReplacementState();

}  // namespace platform
