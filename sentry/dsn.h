#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvantis::sentry {

// {scheme}://{public_key}[:{secret}]@{host}[:{port}]{path_prefix}/{project_id}
struct Dsn {
  std::string Raw;
  std::string Scheme;  // "http" or "https"
  std::string PublicKey;
  std::string Host;  // an IPv6 literal keeps its brackets
  std::optional<unsigned> Port;
  std::string PathPrefix;  // "" or "/a/b", no trailing slash
  std::string ProjectId;   // decimal digits

  // {scheme}://{host}[:{port}]{path_prefix}/api/{project_id}/envelope/
  std::string EnvelopeUrl() const;
};

// nullopt for an empty or malformed DSN: not http(s), no key, no host, bad port, no numeric
// project id, a query or fragment, or any blank or control character.
std::optional<Dsn> ParseDsn(std::string_view text);

}  // namespace corvantis::sentry
