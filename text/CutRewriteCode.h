#pragma once

// The file layer's account of a cut rewrite, told as the text layer's error codes, on every
// system.

#include "Platform.h"
#include "file/Backup.h"
#include "file/Recovery.h"

namespace platform {

// A path of the file layer as a user reads it in a message.
Text ShownPath(const file::Path& path);

// Runs `step` of the file layer, telling what it raised as a code, with `backup` the backup
// that the failure concerns.
template <class Step>
ErrorCode CutRewriteCode(Text& backup, Step step) {
    try {
        step();
        return noError;
    } catch (const file::CutRewriteFound& found) {
        backup = ShownPath(found.Backup());
        return found.What() == file::CutRewriteFound::Kind::Pending ? cutRewritePending
                                                                    : changedAfterCutRewrite;
    } catch (const file::UnusableBackup& unusable) {
        backup = ShownPath(unusable.Where());
        return backupUnusable;
    } catch (const file::SystemError& error) {
        return error.Code();
    }
}

}  // namespace platform
