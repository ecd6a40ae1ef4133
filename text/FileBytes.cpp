#include "FileBytes.h"

#include <new>

#include "Error.h"
#include "Platform.h"

std::string ReadFileBytes(TextView path) {
    platform::InputFile file;
    platform::ErrorCode code = file.Open(path);
    std::uint64_t size = 0;
    if (code == platform::noError) {
        code = file.Size(size);
    }
    std::string bytes;
    if (code == platform::noError) {
        // The file's size when it was opened bounds what is read: a file that grows meanwhile is
        // not followed, one that shrank is read as it is.
        if (size > bytes.max_size()) {
            throw std::bad_alloc();
        }
        bytes.resize(static_cast<std::size_t>(size));
        std::size_t filled = 0;
        while (filled < bytes.size()) {
            std::size_t got = 0;
            code = file.Read(bytes.data() + filled, bytes.size() - filled, got);
            if (code != platform::noError || got == 0) {
                break;
            }
            filled += got;
        }
        bytes.resize(filled);
    }
    if (code != platform::noError) {
        throw FileOpenError(platform::FullPath(path),
                            TrimSystemText(platform::SystemErrorText(code)));
    }
    return bytes;
}
