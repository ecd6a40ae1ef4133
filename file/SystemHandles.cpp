// The owners of the open files and folders, the same on every system once each system's handle
// is known.

#ifdef _WIN32
#include "System_win.h"
#else
#include "System_posix.h"
#endif

namespace file {

SystemFile::SystemFile() = default;
SystemFile::SystemFile(std::unique_ptr<Handle> handle, Path where)
    : handle_(std::move(handle)), where_(std::move(where)) {}
SystemFile::~SystemFile() = default;
SystemFile::SystemFile(SystemFile&&) noexcept = default;
SystemFile& SystemFile::operator=(SystemFile&&) noexcept = default;

SystemFolder::SystemFolder() = default;
SystemFolder::SystemFolder(std::unique_ptr<Handle> handle, Path where)
    : handle_(std::move(handle)), where_(std::move(where)) {}
SystemFolder::~SystemFolder() = default;
SystemFolder::SystemFolder(SystemFolder&&) noexcept = default;
SystemFolder& SystemFolder::operator=(SystemFolder&&) noexcept = default;

}  // namespace file
