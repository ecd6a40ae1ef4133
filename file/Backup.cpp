#include "Backup.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace file {
namespace {

constexpr std::size_t pieceSize = 1 << 20;

// Hands `use` the bytes of `file` from `offset` on, `size` of them, a piece at a time, each with
// its place from `offset`.
template <class Use>
void ForEachPieceOf(const SystemFile& file, std::uint64_t offset, std::uint64_t size, Use use) {
    std::vector<char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(size, pieceSize)));
    for (std::uint64_t at = 0; at < size;) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, pieceSize));
        file.ReadAt(offset + at, std::span(piece.data(), length));
        use(std::string_view(piece.data(), length), at);
        at += length;
    }
}

std::string_view BytesOf(const BackupRecord& record) {
    return {reinterpret_cast<const char*>(&record), sizeof record};
}

}  // namespace

Backup Backup::Make(SystemFolder& folder, SystemFile& profile, const HeldBytes& content) {
    const Path name = BackupName(profile.Facts().identity);
    std::optional<SystemFile> made;
    try {
        if (!folder.KeepsNamesForGood()) {
            made = folder.CreateExclusive(name, profile);
        }
    } catch (const SystemError& error) {
        throw BackupNotMade(error.Code(), folder.Where());
    }
    Path where = folder.PathOf(name);
    std::optional<SystemFolder> own;
    if (!made) {
        try {
            own = OpenPrivateFolder(true);
            if (own) {
                made = own->CreateExclusive(name, profile);
            }
        } catch (const SystemError& error) {
            throw BackupNotMade(error.Code(), error.Concerned());
        }
        if (!made) {
            throw BackupNotMade(accessDenied, own ? own->Where() : folder.Where());
        }
        where = own->PathOf(name);
    }
    SystemFolder& home = own ? *own : folder;
    Backup backup(std::move(*made), where);
    try {
        backup.Fill(profile, content);
        home.Sync();
        // The mark names the backup for every reader, whatever path it takes to the file.
        profile.SetMark(where);
        profile.Sync();
    } catch (const SystemError& error) {
        profile.RemoveMark();
        home.Remove(name);
        // What failed is told with the folder that holds the backup.
        throw BackupNotMade(error.Code(), home.Where());
    }
    return backup;
}

// The bodies first and the record last: a backup cut short has no record, and is none.
void Backup::Fill(SystemFile& profile, const HeldBytes& content) {
    const FileFacts facts = profile.Facts();
    record_.profile = facts.identity;
    record_.oldSize = facts.size;
    record_.newSize = content.Size();
    Checksum checksum;
    AddRecord(checksum, record_);
    ForEachPieceOf(profile, 0, record_.oldSize, [&](std::string_view bytes, std::uint64_t at) {
        checksum.Add(bytes);
        file_.WriteAt(record_.OldOffset() + at, bytes);
    });
    content.ForEachPiece(0, content.Size(), [&](std::string_view bytes, std::uint64_t at) {
        checksum.Add(bytes);
        file_.WriteAt(record_.NewOffset() + at, bytes);
    });
    file_.Sync();
    record_.checksum = checksum.Value();
    file_.WriteAt(0, BytesOf(record_));
    file_.Sync();
}

std::optional<Backup> Backup::Check(PathView where, const SystemFile& profile) {
    std::optional<SystemFile> found;
    try {
        found = OpenExisting(where, Access::Read);
    } catch (const SystemError& error) {
        // A link there, or a file that may not be read: no backup that may be used.
        if (error.Code() == linkInTheWay || error.Code() == accessDenied) {
            throw UnusableBackup(Path(where));
        }
        throw;
    }
    if (!found) {
        return std::nullopt;
    }
    Backup backup(std::move(*found), Path(where));
    BackupRecord& record = backup.record_;
    const FileFacts facts = backup.file_.Facts();
    if (!facts.regular || facts.links != 1 || !backup.file_.KeptLike(profile)) {
        throw UnusableBackup(Path(where));
    }
    if (facts.size < sizeof record) {
        throw UnfinishedBackup(Path(where));
    }
    backup.file_.ReadAt(0, std::span(reinterpret_cast<char*>(&record), sizeof record));
    if (!record.WellFormed()) {
        throw UnfinishedBackup(Path(where));
    }
    if (!(record.profile == profile.Facts().identity) || record.End() != facts.size) {
        throw UnusableBackup(Path(where));
    }
    Checksum checksum;
    AddRecord(checksum, record);
    ForEachPieceOf(backup.file_, record.OldOffset(), record.End() - record.OldOffset(),
                   [&checksum](std::string_view bytes, std::uint64_t) { checksum.Add(bytes); });
    if (checksum.Value() != record.checksum) {
        throw UnusableBackup(Path(where));
    }
    return backup;
}

void Backup::RemoveLeftover(PathView where) {
    std::optional<SystemFile> found;
    try {
        found = OpenExisting(where, Access::Read);
    } catch (const SystemError& error) {
        // A link, or a file that may not be read: not the caller's to remove.
        if (error.Code() == linkInTheWay || error.Code() == accessDenied) {
            return;
        }
        throw;
    }
    if (!found) {
        return;
    }
    const FileFacts facts = found->Facts();
    if (facts.regular && facts.links == 1 && facts.ownedByCaller) {
        Path name;
        SystemFolder folder = OpenFolderOf(where, name);
        folder.Remove(name);
        folder.Sync();
    }
}

void Backup::ReadOld(std::uint64_t offset, std::span<char> bytes) const {
    file_.ReadAt(record_.OldOffset() + offset, bytes);
}

void Backup::ReadNew(std::uint64_t offset, std::span<char> bytes) const {
    file_.ReadAt(record_.NewOffset() + offset, bytes);
}

void Backup::Restore(SystemFile& profile) const {
    ForEachPieceOf(
        file_, record_.OldOffset(), record_.oldSize,
        [&profile](std::string_view bytes, std::uint64_t at) { profile.WriteAt(at, bytes); });
    profile.SetSize(record_.oldSize);
    profile.Sync();
}

void Backup::Remove(SystemFile& profile) {
    // The mark goes first: a backup without one is what a killed save leaves, which the next
    // save removes; a mark without its backup would stop every read.
    profile.RemoveMark();
    profile.Sync();
    Path name;
    SystemFolder folder = OpenFolderOf(where_, name);
    folder.Remove(name);
    folder.Sync();
}

}  // namespace file
