#pragma once
// The whole destination list cupsGetDests gives: the oracle that QueueDests,
// which asks about one queue, is compared with.

#include <cups/cups.h>

// Owns one cupsGetDests list for the length of a query.
class CupsDests {
 public:
  CupsDests() { count_ = cupsGetDests(&dests_); }
  ~CupsDests() { cupsFreeDests(count_, dests_); }
  CupsDests(const CupsDests&) = delete;
  CupsDests& operator=(const CupsDests&) = delete;

  int size() const { return count_; }
  cups_dest_t* begin() const { return dests_; }
  cups_dest_t* end() const { return count_ > 0 ? dests_ + count_ : dests_; }

 private:
  cups_dest_t* dests_ = nullptr;
  int count_ = 0;
};
