#pragma once

#include "engine/SafeMove.h"

// The shortest a name or folder level is cut to for a file system that takes
// short names only.
constexpr int kShortestNameCut = 32;

// Moves the file under a name the destination's file system takes: fitted to
// its rules (Windows rules on FAT, exFAT and NTFS), cut shorter while the file
// system finds it too long (an encrypted folder takes fewer than 255 bytes),
// and made by Windows rules when a file system not known for it refuses the
// name (EINVAL). A name that still cannot be taken is the file's fault, "Bad
// file name or number"; every other failure is thrown as SafeMove throws it.
MoveResult moveUnderFittingName(SafeMove& move, SafeMove::Destination to, const SafeMove::Progress& progress = {});
