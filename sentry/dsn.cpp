#include "sentry/dsn.h"

#include <algorithm>
#include <cctype>

namespace corvantis::sentry {
namespace {

bool AllOf(std::string_view text, int (*predicate)(int)) {
  return std::all_of(text.begin(), text.end(),
                     [&](char c) { return predicate(static_cast<unsigned char>(c)) != 0; });
}

bool IsHostName(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
  });
}

bool IsBracketedIpv6(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  const std::string_view inner = host.substr(1, host.size() - 2);
  return std::all_of(inner.begin(), inner.end(), [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
  });
}

std::optional<unsigned> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5 || !AllOf(text, std::isdigit)) return std::nullopt;
  unsigned port = 0;
  for (const char c : text) port = port * 10 + static_cast<unsigned>(c - '0');
  if (port == 0 || port > 65535) return std::nullopt;
  return port;
}

}  // namespace

std::string Dsn::EnvelopeUrl() const {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about `":" + std::to_string(...)`.
  std::string url = Scheme;
  url += "://";
  url += Host;
  if (Port) {
    url += ':';
    url += std::to_string(*Port);
  }
  url += PathPrefix;
  url += "/api/";
  url += ProjectId;
  url += "/envelope/";
  return url;
}

std::optional<Dsn> ParseDsn(std::string_view text) {
  const bool clean = std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F;
  });
  if (text.empty() || !clean || text.find_first_of("?#") != text.npos) return std::nullopt;

  Dsn dsn;
  dsn.Raw = text;
  const size_t schemeEnd = text.find("://");
  if (schemeEnd == text.npos) return std::nullopt;
  for (const char c : text.substr(0, schemeEnd)) {
    dsn.Scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  if (dsn.Scheme != "http" && dsn.Scheme != "https") return std::nullopt;

  const std::string_view rest = text.substr(schemeEnd + 3);
  const size_t pathStart = rest.find('/');
  if (pathStart == rest.npos) return std::nullopt;
  const std::string_view authority = rest.substr(0, pathStart);
  const std::string_view path = rest.substr(pathStart);

  const size_t at = authority.find('@');
  if (at == authority.npos || authority.find('@', at + 1) != authority.npos) return std::nullopt;
  // Only letters and digits: the key goes into the auth header verbatim.
  const std::string_view userInfo = authority.substr(0, at);
  dsn.PublicKey = userInfo.substr(0, userInfo.find(':'));
  if (dsn.PublicKey.empty() || !AllOf(dsn.PublicKey, std::isalnum)) return std::nullopt;

  const std::string_view hostPort = authority.substr(at + 1);
  const size_t hostEnd = hostPort.starts_with('[') ? hostPort.find(']') + 1 : hostPort.find(':');
  if (hostEnd == 0) return std::nullopt;  // "[" without "]"
  dsn.Host = hostPort.substr(0, hostEnd);
  if (!IsHostName(dsn.Host) && !IsBracketedIpv6(dsn.Host)) return std::nullopt;
  if (hostEnd < hostPort.size()) {
    if (hostPort[hostEnd] != ':') return std::nullopt;
    dsn.Port = ParsePort(hostPort.substr(hostEnd + 1));
    if (!dsn.Port) return std::nullopt;
  }

  if (path.find("//") != path.npos) return std::nullopt;
  const size_t lastSlash = path.rfind('/');
  dsn.PathPrefix = path.substr(0, lastSlash);
  dsn.ProjectId = path.substr(lastSlash + 1);
  if (dsn.ProjectId.empty() || !AllOf(dsn.ProjectId, std::isdigit)) return std::nullopt;
  return dsn;
}

}  // namespace corvantis::sentry
