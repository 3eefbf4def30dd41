#pragma once
// Times for log lines that scripts and journals read: ISO 8601 in local time with its offset.
#include <string>

// Now, as "2026-05-01T12:00:00.250+08:00" (milliseconds; "Z" is never used, the offset is
// always written, "+00:00" in UTC).
std::string localTimeIso8601();
