#include "Recovery.h"

#include <vector>

#include "Backup.h"
#include "CutRewrite.h"

namespace file {
namespace {

// The places where the file's backup is, or may be: the one that its mark names; where the file
// system keeps no marks, its name beside the file and in the user's folder of backups; where it
// keeps them and the file has none, the same places, for the leftovers of a save killed before it
// marked the file or after it took the mark off, which the file's bytes do not depend on.
struct Places {
    std::vector<Path> paths;
    MarkState mark = MarkState::Unmarked;
};

Places BackupPlaces(const SystemFile& profile, PathView path) {
    Places places;
    Path marked;
    places.mark = profile.ReadMark(marked);
    if (places.mark == MarkState::Marked) {
        places.paths.push_back(marked);
        return places;
    }
    const Path name = BackupName(profile.Facts().identity);
    Path ignored;
    places.paths.push_back(OpenFolderOf(path, ignored).PathOf(name));
    if (const std::optional<SystemFolder> own = OpenPrivateFolder(false)) {
        places.paths.push_back(own->PathOf(name));
    }
    return places;
}

// What a look at the places of the file's backup found.
struct Found {
    std::optional<Backup> backup;  // the file's backup, checked
    bool leftover = false;         // a file at the backup's name that is no backup to use
};

// The file's backup that its bytes depend on, if any. With `leftovers`, a backup that checks out
// is found also where the file has no mark (a save killed before it marked the file or after it
// took the mark off left it, for a save to remove), and `removeLeftovers` (only under the file's
// lock, since a save may be making its backup) removes what a killed save left of one that was
// not yet whole; another user's file at the name is left alone.
Found FindBackup(const SystemFile& profile, PathView path, bool leftovers, bool removeLeftovers) {
    Found found;
    const Places places = BackupPlaces(profile, path);
    const bool unmarked = places.mark == MarkState::Unmarked;
    if (unmarked && !leftovers) {
        return found;
    }
    for (const Path& where : places.paths) {
        try {
            found.backup = Backup::Check(where, profile);
            if (found.backup) {
                return found;
            }
            if (places.mark == MarkState::Marked) {
                throw UnusableBackup(where);
            }
            continue;
        } catch (const UnfinishedBackup&) {
            // Where no mark tells a backup that the file needs from one that a save killed
            // before its rewrite began left, the backup's record does.
            if (places.mark == MarkState::Marked) {
                throw;
            }
        } catch (const UnusableBackup&) {
            if (!unmarked) {
                throw;
            }
        }
        found.leftover = true;
        if (removeLeftovers) {
            Backup::RemoveLeftover(where);
        }
    }
    return found;
}

CutRewriteState StateOf(const SystemFile& profile, const Backup& backup) {
    const BackupRecord& record = backup.Record();
    return ClassifyCutRewrite(
        {[&profile](std::uint64_t at, std::span<char> bytes) { profile.ReadAt(at, bytes); },
         profile.Facts().size},
        {[&backup](std::uint64_t at, std::span<char> bytes) { backup.ReadOld(at, bytes); },
         record.oldSize},
        {[&backup](std::uint64_t at, std::span<char> bytes) { backup.ReadNew(at, bytes); },
         record.newSize});
}

}  // namespace

void CheckNoCutRewrite(const SystemFile& profile, PathView path) {
    const std::optional<Backup> backup = FindBackup(profile, path, false, false).backup;
    if (!backup) {
        return;
    }
    // A rewrite cut before its first byte or after its last leaves nothing to put back: the file
    // is read as it is, and the next save removes the backup.
    switch (StateOf(profile, *backup)) {
        case CutRewriteState::Old:
        case CutRewriteState::New:
            return;
        case CutRewriteState::Cut:
            throw CutRewriteFound(CutRewriteFound::Kind::Pending, backup->Where());
        case CutRewriteState::Changed:
            throw CutRewriteFound(CutRewriteFound::Kind::Changed, backup->Where());
    }
}

void RecoverCutRewrite(PathView path) {
    // What is no regular file, what this user may not write, or what another program holds open,
    // this save cannot write either: nothing is recovered, and the save's own open says why. The
    // file is opened for writing from the start, once it is known to be one: on Windows its
    // sharing mode is its lock, given as it is opened, and a reader's would refuse the writer.
    std::optional<SystemFile> profile;
    try {
        // The reader is closed before the writer opens.
        if (const std::optional<SystemFile> found = OpenExisting(path, Access::Read);
            !found || !found->Facts().regular) {
            return;
        }
        profile = OpenExisting(path, Access::ReadWrite);
    } catch (const SystemError& error) {
        if (error.Code() == accessDenied || error.Code() == inUse) {
            return;
        }
        throw;
    }
    if (!profile) {
        return;
    }
    // Most saves find nothing, and take no lock for it. What a look finds is looked for again
    // under the lock, exclusive from the start: no save runs while the backup is checked and
    // used.
    const Found seen = FindBackup(*profile, path, true, false);
    if (!seen.backup && !seen.leftover) {
        return;
    }
    profile->Lock(true);
    std::optional<Backup> backup = FindBackup(*profile, path, true, true).backup;
    if (!backup) {
        return;
    }
    const CutRewriteState state = StateOf(*profile, *backup);
    if (state == CutRewriteState::Changed) {
        throw CutRewriteFound(CutRewriteFound::Kind::Changed, backup->Where());
    }
    // Cut short, the restore leaves a cut rewrite too, which the next save makes good again.
    const EndingHeld held;
    if (state == CutRewriteState::Cut) {
        backup->Restore(*profile);
    }
    backup->Remove(*profile);
}

}  // namespace file
