#include "driver/pending_file.h"

#include "driver/file_steps.h"

PendingFile::PendingFile(const std::string& folder) : folder_(folder) {
  ::check(createTemporary(folder_, file_, path_),
          messages::Step::kCreateTemporaryIn, folder_);
}

std::string PendingFile::name() const {
  return path_.empty() ? messages::temporaryFileIn(folder_) : path_;
}

void PendingFile::check(const SystemError& error, messages::Step step) const {
  ::check(error, step, name());
}

void PendingFile::nameAndClose() {
  check(nameTemporary(file_, folder_, path_), messages::Step::kName);
  check(file_.close(), messages::Step::kClose);
}

SystemError PendingFile::renameOver(const std::string& target) {
  const SystemError error = ::renameOver(path_, target);
  done_ = !error;
  return error;
}

SystemError PendingFile::renameNoReplace(const std::string& target) {
  const SystemError error = ::renameNoReplace(path_, target);
  done_ = !error;
  return error;
}

bool PendingFile::discard() {
  if (done_) return true;
  done_ = true;
  file_.close();
  // An unnamed file is gone with its descriptor.
  return path_.empty() || !removeFile(path_);
}
