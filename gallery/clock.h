// Time as the service stores it: whole seconds since 1970 (UTC), written for
// people and programs as ISO 8601 in UTC.
#pragma once

#include <cstdint>
#include <string>

namespace keepframe::gallery {

int64_t nowSeconds();
// "2026-01-31T10:20:30Z"
std::string isoUtc(int64_t seconds);

}  // namespace keepframe::gallery

namespace keepframe::gallery {

// Microseconds since 1970: the order of galleries made within one second.
int64_t nowMicros();

}  // namespace keepframe::gallery
