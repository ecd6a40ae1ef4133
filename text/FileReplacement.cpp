#include "FileReplacementState.h"

namespace platform {

FileReplacement::FileReplacement() : state_(NewReplacementState()) {}

FileReplacement::~FileReplacement() {
    if (!state_->committed) {
        state_->DropNew();
    }
}

ErrorCode FileReplacement::Open(TextView path, const FileStamp* asRead) {
    if (asRead != nullptr) {
        state_->asRead = *asRead;
    }
    return state_->Open(path);
}

ErrorCode FileReplacement::Write(const char* data, std::size_t size, std::size_t& written) {
    if (state_->inPlace) {
        state_->content.Append(std::string(data, size));
        written = size;
        return noError;
    }
    return state_->WriteNew(data, size, written);
}

ErrorCode FileReplacement::Flush() {
    return state_->inPlace ? state_->WriteInPlace() : state_->FlushNew();
}

ErrorCode FileReplacement::Commit() {
    if (!state_->inPlace) {
        if (const ErrorCode code = state_->ReplaceTarget(); code != noError) {
            return code;
        }
    }
    state_->committed = true;
    return noError;
}

Text FileReplacement::BackupLeft() const {
    return state_->BackupLeft();
}

Text FileReplacement::FailedFolder() const {
    return state_->FailedFolder();
}

}  // namespace platform
