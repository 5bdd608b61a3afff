#pragma once
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace corvantis {

// Who may read a file the program creates: the user alone (memory, user data: 0600) or everyone
// (the outputs, as the streams: 0644). The umask can narrow either, never widen it.
enum class FileReaders { UserOnly, Everyone };

// What a commit does with an entry already under the file's name.
enum class ExistingName {
  // Replaces a regular file of this user with one link; refuses (EEXIST, EISDIR for a folder)
  // anything else: a link, a device, a folder, another user's file.
  ReplaceOurs,
  // Refuses any entry (EEXIST): names that must never replace a file.
  Keep,
  // Replaces any entry but a folder (a link itself, never its target): names in a folder of our
  // own, or where whatever holds the name is never read or written.
  ReplaceAny,
};

// A file being written under a temporary name in the folder of `path`: made exclusively, never
// through a link, reached through the folder opened once. It takes its name only at Commit and
// is removed if it never does.
class NewFile {
 public:
  NewFile(const std::string& path, FileReaders readers);
  // The file `name` in the open folder `folder`, which stays the caller's.
  NewFile(int folder, const std::string& name, FileReaders readers);
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // 0, or the errno of the first failure (creating, writing or committing).
  int error() const { return error_; }
  int fd() const { return file_.get(); }

  // Writes all of `bytes`, resuming after signals and short writes. False on failure.
  bool Write(std::string_view bytes);
  // 0 when a commit could give the file its name now, else why not.
  int CheckName(ExistingName existing) const;
  // Optionally syncs the file, then gives it its name. 0 or an errno; the temporary file goes
  // on failure.
  int Commit(ExistingName existing, bool sync = false);

 private:
  void Create(FileReaders readers);
  void Discard();

  unique_fd folder_;
  unique_fd file_;
  std::string name_;
  std::string temporary_;
  int error_ = 0;
};

// Whether `name` is one that NewFile gives a file before its commit.
bool IsTemporaryName(std::string_view name);

// The whole file at `path` in one call, as NewFile writes it. 0 or an errno.
int WriteNewFile(const std::string& path, std::string_view bytes, FileReaders readers,
                 ExistingName existing, bool sync = false);

// Whether a commit to `path` could succeed now (the folder takes a new file, the name is free or
// ours to replace); 0 or an errno. Leaves nothing behind.
int CheckNewFile(const std::string& path, ExistingName existing);

}  // namespace corvantis
