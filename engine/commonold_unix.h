#pragma once

#include "engine/commonold.h"

#include <QByteArray>

// commonold::CheckFile for `name` relative to the folder open as `dirFd`
// (AT_FDCWD for a path of its own).
commonold::FileCheck checkFileAt(int dirFd, const QByteArray& name, ProcessFileSnapshot* pass);
