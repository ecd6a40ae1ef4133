#include "FileBytes.h"

#include "Error.h"
#include "Platform.h"

std::string ReadFileBytes(TextView path) {
    platform::InputFile file;
    std::uint64_t size = 0;
    platform::ErrorCode code = file.Open(path);
    if (code == platform::noError) {
        code = file.Size(size);
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    char block[1 << 16];
    std::size_t got = 1;
    while (code == platform::noError && got > 0) {
        code = file.Read(block, sizeof block, got);
        bytes.append(block, got);
    }
    if (code != platform::noError) {
        throw FileOpenError(platform::FullPath(path),
                            TrimSystemText(platform::SystemErrorText(code)));
    }
    return bytes;
}
