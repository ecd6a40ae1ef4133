#include "FileBytes.h"

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
        // Read to the end: a file that grew meanwhile is read whole, one that shrank as it is.
        constexpr std::size_t growth = 4 << 20;
        bytes.resize(static_cast<std::size_t>(size) + 1);
        std::size_t filled = 0;
        for (;;) {
            if (filled == bytes.size()) {
                bytes.resize(bytes.size() + growth);
            }
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
