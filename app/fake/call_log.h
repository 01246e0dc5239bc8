// A shared record of calls into the fake backends, so tests can check the order across them.
#pragma once

#include <string>
#include <vector>

namespace fake {

class CallLog {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  const std::vector<std::string>& entries() const { return entries_; }
  void Clear() { entries_.clear(); }

 private:
  std::vector<std::string> entries_;
};

inline void Record(CallLog* log, std::string entry) {
  if (log) log->Add(std::move(entry));
}

}  // namespace fake
