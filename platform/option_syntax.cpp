#include "platform/option_syntax.h"

namespace corvantis {

bool SplitArgument(const std::wstring& argument, std::wstring& name, std::wstring& value) {
  if (argument.empty() || argument[0] != L'-') return false;
  const std::wstring rest = argument.substr(1);
  const auto colon = rest.find(L':');
  if (colon == std::wstring::npos) {
    name = rest;
    value.clear();
  } else {
    name = rest.substr(0, colon);
    value = rest.substr(colon + 1);
  }
  return true;
}

}  // namespace corvantis
