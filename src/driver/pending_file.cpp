// A new file beside the one it is to become, covered against signals until
// it is renamed or removed.

#include "driver/pending_file.h"

#include "driver/file_steps.h"
#include "driver/messages.h"

PendingFile::PendingFile(const std::string& folder) : folder_(folder) {
  ::check(createTemporary(folder_, file_, path_, cleanup_),
          Step::kCreateTemporaryIn, folder_);
}

std::string PendingFile::name() const {
  return path_.empty() ? messages::temporaryFileIn(folder_) : path_;
}

void PendingFile::check(const SystemError& error, Step step) const {
  ::check(error, step, name());
}

void PendingFile::nameAndClose() {
  check(nameTemporary(file_, folder_, path_, cleanup_), Step::kName);
  cleanup_.closing();
  check(closeHolding(file_, hold_), Step::kClose);
}

SystemError PendingFile::renameOver(const std::string& target) {
  return renamed(::renameOver(path_, target));
}

SystemError PendingFile::renameNoReplace(const std::string& target) {
  return renamed(::renameNoReplace(path_, target));
}

SystemError PendingFile::renamed(const SystemError& error) {
  done_ = !error;
  if (done_) {
    cleanup_.release();
    hold_.close();
  }
  return error;
}

bool PendingFile::discard() {
  if (done_) return true;
  done_ = true;
  cleanup_.closing();
  file_.close();
  // Let go of only once it is removed, so no other run removes it first;
  // one that stays is still removed on a signal.
  const bool removed = path_.empty() || !removeFile(path_);
  if (removed) cleanup_.release();
  hold_.close();
  return removed;
}
