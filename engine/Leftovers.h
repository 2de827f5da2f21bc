#pragma once

#include <QString>

// What an interrupted run left under the outbox or errors folder: its partial
// copies, in the hidden folder and those noted there as written in a folder of
// their own, are removed at the next start. Only copies of a run that has
// ended are touched; nothing else is. The inbox files such a run was removing
// are put back by LeasedSource, which moved them aside.
namespace Leftovers {

// Removes the leftovers of ended runs under `root`.
void remove(const QString& root);

} // namespace Leftovers
