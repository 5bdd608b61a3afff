#include "platform/safe_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/format_text.h"
#include "platform/write_all.h"

namespace corvantis {

namespace {

struct SplitPath {
  std::string Folder;
  std::string Name;
};

SplitPath Split(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The folder named by the caller (links on the way are the user's choice); everything after
// this goes through the descriptor, so a folder renamed or swapped later cannot redirect it.
unique_fd OpenFolder(const std::string& folder) {
  return unique_fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// 0 when `name` is free, or holds what `existing` lets a commit replace; else why not.
int NameAllows(int folder, const std::string& name, ExistingName existing) {
  struct stat entry {};
  if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? 0 : errno;
  if (S_ISDIR(entry.st_mode)) return EISDIR;
  if (existing == ExistingName::Keep) return EEXIST;
  if (existing == ExistingName::ReplaceAny) return 0;
  const bool ours = S_ISREG(entry.st_mode) && entry.st_uid == ::geteuid() && entry.st_nlink == 1;
  return ours ? 0 : EEXIST;
}

constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kRandomDigits = 16;

std::string TemporaryName(const std::string& name) {
  std::uint64_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
    random = (std::uint64_t{static_cast<std::uint32_t>(::getpid())} << 32) ^
             reinterpret_cast<std::uintptr_t>(&random);
  return name + FormatNarrow(".%016llx", static_cast<unsigned long long>(random)) +
         std::string(kTemporarySuffix);
}

}  // namespace

NewFile::NewFile(const std::string& path, FileReaders readers) {
  const SplitPath split = Split(path);
  name_ = split.Name;
  folder_ = OpenFolder(split.Folder);
  Create(readers);
}

NewFile::NewFile(int folder, const std::string& name, FileReaders readers) : name_(name) {
  folder_.reset(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  Create(readers);
}

void NewFile::Create(FileReaders readers) {
  if (name_.empty() || name_ == "." || name_ == ".." || name_.find('/') != std::string::npos) {
    error_ = EISDIR;
    return;
  }
  if (!folder_) {
    error_ = errno;
    return;
  }
  const mode_t mode = readers == FileReaders::UserOnly ? 0600 : 0644;
  // Readable too: a caller may keep a copy of the descriptor to read back what it wrote.
  // A name taken meanwhile (by us or a neighbour's plant) just means another name.
  for (int attempt = 0; attempt < 8; ++attempt) {
    temporary_ = TemporaryName(name_);
    file_.reset(::openat(folder_.get(), temporary_.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (file_ || errno != EEXIST) break;
  }
  if (!file_) {
    error_ = errno;
    temporary_.clear();
  }
}

NewFile::~NewFile() { Discard(); }

void NewFile::Discard() {
  file_.reset();
  if (!temporary_.empty()) ::unlinkat(folder_.get(), temporary_.c_str(), 0);
  temporary_.clear();
}

bool NewFile::Write(std::string_view bytes) {
  if (error_ == 0) error_ = WriteAll(file_.get(), bytes);
  return error_ == 0;
}

int NewFile::Commit(ExistingName existing, bool sync) {
  if (error_ == 0 && sync && ::fsync(file_.get()) != 0) error_ = errno;
  if (error_ == 0 && ::close(file_.release()) != 0) error_ = errno;
  if (error_ == 0) error_ = NameAllows(folder_.get(), name_, existing);
  if (error_ == 0) {
    // Either way the entry at the name is replaced, never written through.
    const int renamed =
        existing == ExistingName::Keep
            ? ::renameat2(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str(),
                          RENAME_NOREPLACE)
            : ::renameat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str());
    if (renamed == 0) {
      temporary_.clear();
    } else if (existing == ExistingName::Keep && errno == EINVAL) {
      // A file system without RENAME_NOREPLACE: a hard link never replaces either.
      if (::linkat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str(), 0) != 0)
        error_ = errno;
    } else {
      error_ = errno;
    }
  }
  Discard();
  return error_;
}

bool IsTemporaryName(std::string_view name) {
  if (!name.ends_with(kTemporarySuffix)) return false;
  name.remove_suffix(kTemporarySuffix.size());
  if (name.size() <= kRandomDigits + 1) return false;
  const std::string_view digits = name.substr(name.size() - kRandomDigits);
  return name[name.size() - kRandomDigits - 1] == '.' &&
         digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

int WriteNewFile(const std::string& path, std::string_view bytes, FileReaders readers,
                 ExistingName existing, bool sync) {
  NewFile file(path, readers);
  file.Write(bytes);
  return file.Commit(existing, sync);
}

int NewFile::CheckName(ExistingName existing) const {
  return error_ != 0 ? error_ : NameAllows(folder_.get(), name_, existing);
}

int CheckNewFile(const std::string& path, ExistingName existing) {
  const NewFile file(path, FileReaders::UserOnly);
  return file.CheckName(existing);
}

}  // namespace corvantis
