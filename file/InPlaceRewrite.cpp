#include "InPlaceRewrite.h"

#include "Backup.h"

namespace file {
namespace {

// The new bytes over the old, to the disk: the room first, so that a full disk leaves every old
// byte in place; then the bytes from the start; then the new size. Cut anywhere, the file holds
// what CutRewrite.h expects.
void Overwrite(SystemFile& profile, const HeldBytes& content) {
    profile.Reserve(content.Size());
    content.ForEachPiece(0, content.Size(), [&profile](std::string_view bytes, std::uint64_t at) {
        profile.WriteAt(at, bytes);
    });
    profile.SetSize(content.Size());
    profile.Sync();
}

}  // namespace

void RewriteInPlace(SystemFolder& folder, SystemFile& profile, const HeldBytes& content,
                    const std::function<void()>& checkUnchanged) {
    const EndingHeld held;
    Backup backup = Backup::Make(folder, profile, content);
    try {
        // The last look at the file before its first byte changes: a change made while the
        // backup was copied is not lost.
        checkUnchanged();
    } catch (...) {
        backup.Remove(profile);
        throw;
    }
    try {
        Overwrite(profile, content);
    } catch (const SystemError& error) {
        try {
            backup.Restore(profile);
        } catch (const SystemError&) {
            throw OldBytesKept(error, backup.Where());
        }
        // The old bytes are back: a backup that cannot go now is a leftover for the next save
        // to remove, and the failure told is the rewrite's.
        try {
            backup.Remove(profile);
        } catch (const SystemError&) {
        }
        throw;
    }
    // The new bytes are on the disk: a backup that cannot go now stays for the next save, which
    // finds the whole new bytes and removes it; the failure is told.
    backup.Remove(profile);
}

}  // namespace file
