#pragma once

// The four scheduling levels the main window offers for the whole process.
enum class ProcessPriority { Realtime, High, Normal, Low };

// Puts every thread of this process at `priority`. The system may refuse a
// level (no privilege); the refusal is ignored and nothing is reported.
void SetProcessPriority(ProcessPriority priority);
