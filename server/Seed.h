#pragma once

#include "server/Store.h"

#include <cstdint>

namespace vendoremp::server {

/// A small company: vendors 12, 17, 23, 40 and -5; employees 101 to 300 with realistic names
/// (accents and apostrophes among them), every ninth one inactive; vendor 12 linked to 25
/// employees (108, 116, ... 300; three of them inactive), 17 to 9, 40 to 3, 23 and -5 to none.
SeedData demoSeed();

/// For benchmarks: employees 1 to count, all active, with generated names; vendors 1 and 2;
/// vendor 1 linked to every fourth employee (4, 8, ...), vendor 2 to every second (2, 4, ...):
/// 32,767 employees give vendor 2 the lists at their largest, 16,384 not linked and 16,383 linked.
SeedData generatedSeed(std::int64_t count);

} // namespace vendoremp::server
