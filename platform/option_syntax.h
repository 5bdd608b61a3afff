#pragma once
#include <string>

namespace corvantis {

// The one option syntax of both roles' command lines.
// True when `argument` is an option ("-name" or "-name:value", one leading '-' removed); name and
// value are then set, otherwise left as they are.
bool SplitArgument(const std::wstring& argument, std::wstring& name, std::wstring& value);

}  // namespace corvantis
