#include "driver/pending_file.h"

#include "driver/file_steps.h"

PendingFile::PendingFile(const std::string& folder) : folder_(folder) {
  ::check(createTemporary(folder_, file_, path_), Step::kCreateTemporaryIn,
          folder_);
}

std::string PendingFile::name() const {
  return path_.empty() ? messages::temporaryFileIn(folder_) : path_;
}

void PendingFile::check(const SystemError& error, Step step) const {
  ::check(error, step, name());
}

void PendingFile::nameAndClose() {
  check(nameTemporary(file_, folder_, path_), Step::kName);
  check(closeHolding(file_, hold_), Step::kClose);
}

SystemError PendingFile::renameOver(const std::string& target) {
  const SystemError error = ::renameOver(path_, target);
  done_ = !error;
  if (done_) hold_.close();
  return error;
}

SystemError PendingFile::renameNoReplace(const std::string& target) {
  const SystemError error = ::renameNoReplace(path_, target);
  done_ = !error;
  if (done_) hold_.close();
  return error;
}

bool PendingFile::discard() {
  if (done_) return true;
  done_ = true;
  file_.close();
  // Let go of only once it is removed, so no other run removes it first.
  const bool removed = path_.empty() || !removeFile(path_);
  hold_.close();
  return removed;
}
