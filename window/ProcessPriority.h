#pragma once

#include <optional>

// The four scheduling levels the main window offers for the whole process.
enum class ProcessPriority { Realtime, High, Normal, Low };

// Puts every thread of this process at `priority`. The system may refuse a
// level (no privilege); the refusal is ignored and nothing is reported.
void SetProcessPriority(ProcessPriority priority);

// The level this process runs at, as the system reports it; none when it runs
// at a level other than the four (started under nice, for example).
std::optional<ProcessPriority> ProcessPriorityInForce();
