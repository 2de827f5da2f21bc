#pragma once

#include <QStringList>

// The names of the plain files in `folder` whose name ends in "." followed by
// `extension`, compared without regard to letter case; hidden names (starting
// with "."), folders and symbolic links are left out. Sorted by name ignoring
// letter case, so the inbox is filed in a stable, readable order. Throws a
// FilingError when the folder cannot be listed.
QStringList ListInbox(const QString& folder, const QString& extension);
