#include "FileBytes.h"

#include <limits>
#include <new>

#include "Error.h"
#include "Platform.h"

ByteBuffer ReadFileBytes(TextView path, platform::FileStamp& stamp) {
    platform::InputFile file;
    platform::ErrorCode code = file.Open(path);
    std::uint64_t size = 0;
    if (code == platform::noError) {
        code = file.Size(size);
    }
    if (code == platform::noError) {
        code = file.Stamp(stamp);
    }
    ByteBuffer bytes;
    if (code == platform::noError) {
        // The file's size when it was opened bounds what is read: a file that grows meanwhile is
        // not followed, one that shrank is read as it is.
        if (size > std::numeric_limits<std::size_t>::max()) {
            throw std::bad_alloc();
        }
        bytes = ByteBuffer(static_cast<std::size_t>(size));
        std::size_t filled = 0;
        while (filled < bytes.Size()) {
            std::size_t got = 0;
            code = file.Read(bytes.Data() + filled, bytes.Size() - filled, got);
            if (code != platform::noError || got == 0) {
                break;
            }
            filled += got;
        }
        bytes.Shrink(filled);
        // A file that changed while it was read (its writer does not take the lock) is not the
        // one that the stamp tells of: the save then finds it changed.
        if (filled != size) {
            stamp.modified = ~std::uint64_t{0};
        }
    }
    if (code != platform::noError) {
        const Text text = platform::WithBackupPath(TrimSystemText(platform::SystemErrorText(code)),
                                                   file.Backup());
        if (code == platform::cutRewritePending) {
            throw CutRewriteError(platform::FullPath(path), text);
        }
        throw FileOpenError(platform::FullPath(path), text);
    }
    return bytes;
}

void RecoverCutRewrite(TextView path) {
    Text backup;
    if (const platform::ErrorCode code = platform::RecoverCutRewrite(path, backup);
        code != platform::noError) {
        throw FileCreateError(
            platform::FullPath(path),
            platform::WithBackupPath(TrimSystemText(platform::SystemErrorText(code)), backup));
    }
}
