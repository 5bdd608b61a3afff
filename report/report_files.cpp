#include "report/report_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/format_text.h"
#include "platform/unique_fd.h"

namespace corvantis {

std::string DefaultReportPath(const std::string& directory, const LocalDateTime& start) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + FormatNarrow("%04u%02u%02u-%02u%02u%02u-report.json", unsigned{start.Year},
                             unsigned{start.Month}, unsigned{start.Day}, unsigned{start.Hour},
                             unsigned{start.Minute}, unsigned{start.Second});
}

std::string ChartPathFor(const std::string& reportPath) {
  constexpr std::string_view kJson = ".json";
  if (reportPath.size() > kJson.size() &&
      reportPath.compare(reportPath.size() - kJson.size(), kJson.size(), kJson) == 0)
    return reportPath.substr(0, reportPath.size() - kJson.size()) + ".png";
  return reportPath + ".png";
}

namespace {

std::string TemporaryPathFor(const std::string& path) {
  return path + FormatNarrow(".%d.tmp", static_cast<int>(::getpid()));
}

std::string Why(const std::string& path, int error) { return path + ": " + std::strerror(error); }

}  // namespace

std::string ProbeWritable(const std::string& path) {
  if (path.empty()) return "no file name";
  const std::string temporary = TemporaryPathFor(path);
  unique_fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return Why(path, errno);
  fd.reset();
  ::unlink(temporary.c_str());
  // A directory (or anything else that cannot be replaced by a file) at the path itself.
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return Why(path, EISDIR);
  return {};
}

std::string WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string temporary = TemporaryPathFor(path);
  unique_fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return Why(path, errno);
  const auto fail = [&](int error) {
    fd.reset();
    ::unlink(temporary.c_str());
    return Why(path, error);
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<std::size_t>(written);
  }
  if (::fsync(fd.get()) != 0) return fail(errno);
  if (::close(fd.release()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return Why(path, error);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return Why(path, error);
  }
  return {};
}

}  // namespace corvantis
