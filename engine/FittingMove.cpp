#include "engine/FittingMove.h"

#include "engine/FilingError.h"
#include "engine/FolderFormat.h"
#include "engine/commonold.h"

#include <cerrno>

MoveResult moveUnderFittingName(SafeMove& move, SafeMove::Destination to, const SafeMove::Progress& progress)
{
    NameRules rules = commonold::RefusesWindowsNames(to.folder) ? NameRules::Windows : NameRules::Posix;
    int maxBytes = kMaxNameBytes;
    if (rules == NameRules::Windows)
        to.name = FitFileName(to.name, rules, maxBytes);
    for (;;) {
        try {
            return move.moveTo(to, progress);
        } catch (const FilingError& error) {
            const bool refusedName = error.lastDllError() == EINVAL && !error.blamesDestination();
            if (error.lastDllError() == ENAMETOOLONG && maxBytes >= kShortestNameCut)
                maxBytes = maxBytes * 3 / 4;
            else if (refusedName && rules == NameRules::Posix)
                rules = NameRules::Windows;
            else if (refusedName)
                throw FilingError(52, QStringLiteral("Bad file name or number"), EINVAL);
            else
                throw;
            to.name = FitFileName(to.name, rules, maxBytes);
        }
    }
}
