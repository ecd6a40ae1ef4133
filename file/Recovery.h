#pragma once

// A rewrite in place that was cut short (a power cut, kill -9) left its backup, and the file
// holds old bytes, new ones, or a mix (CutRewrite.h). A read never takes such bytes for the
// file's content, and never writes: it says so. The first step of every save makes it good: the
// old bytes go back unless the file holds the whole new ones, and the backup goes.

#include "System.h"

namespace file {

// A cut rewrite of the file stands in the way: its old bytes wait in `Backup()`.
class CutRewriteFound : public std::exception {
  public:
    enum class Kind {
        Pending,  // the next save puts the old bytes back
        Changed,  // another program changed the file since: both stay for the user to compare
    };
    CutRewriteFound(Kind kind, Path backup) : kind_(kind), backup_(std::move(backup)) {}
    Kind What() const noexcept { return kind_; }
    const Path& Backup() const noexcept { return backup_; }
    const char* what() const noexcept override { return "a rewrite in place was cut short"; }

  private:
    Kind kind_;
    Path backup_;
};

// Raises CutRewriteFound, or UnusableBackup (Backup.h), when a cut rewrite of `profile` (open,
// its lock held; `path` is the real file's, its links resolved) stands in the way of reading it.
// Writes nothing.
void CheckNoCutRewrite(const SystemFile& profile, PathView path);

// Makes good a cut rewrite of the file at `path` (the real file's, links resolved): the first
// step of a save. Takes the file's lock, exclusive, and holds what would end the process while it
// writes; cut short itself, it is simply made again by the next save. Also removes what a save
// killed while it made a backup left of it. Raises CutRewriteFound (Changed), UnusableBackup or
// SystemError; a file that is missing, that the user may not write or that another program
// holds open has nothing to recover.
void RecoverCutRewrite(PathView path);

}  // namespace file
