#pragma once
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace corvantis {

namespace fakes {

// One ordered record of calls shared by several fakes, so tests can check interleaving.
struct CallLog {
  std::vector<std::string> Entries;

  void Add(std::string entry) { Entries.push_back(std::move(entry)); }

  // Index of the n-th (0-based) entry equal to `entry`, or Entries.size() when there is none.
  std::size_t Find(const std::string& entry, std::size_t n = 0) const {
    for (std::size_t i = 0; i < Entries.size(); ++i)
      if (Entries[i] == entry && n-- == 0) return i;
    return Entries.size();
  }

  // Index of the first entry equal to `entry` at or after `from`, or Entries.size().
  std::size_t FindFrom(const std::string& entry, std::size_t from) const {
    for (std::size_t i = from; i < Entries.size(); ++i)
      if (Entries[i] == entry) return i;
    return Entries.size();
  }

  std::size_t Count(const std::string& entry, std::size_t from, std::size_t to) const {
    return static_cast<std::size_t>(std::count(Entries.begin() + static_cast<std::ptrdiff_t>(from),
                                               Entries.begin() + static_cast<std::ptrdiff_t>(to),
                                               entry));
  }
};

}  // namespace fakes

}  // namespace corvantis
