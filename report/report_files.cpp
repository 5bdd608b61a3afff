#include "report/report_files.h"

#include <cerrno>
#include <cstring>

#include "platform/format_text.h"
#include "platform/safe_file.h"

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

std::string Why(const std::string& path, int error) { return path + ": " + std::strerror(error); }

}  // namespace

std::string ProbeWritable(const std::string& path) {
  if (path.empty()) return "no file name";
  const int error = CheckNewFile(path, ExistingName::ReplaceOurs);
  return error == 0 ? std::string() : Why(path, error);
}

std::string WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const int error =
      WriteNewFile(path, bytes, FileReaders::Everyone, ExistingName::ReplaceOurs, /*sync=*/true);
  return error == 0 ? std::string() : Why(path, error);
}

}  // namespace corvantis
