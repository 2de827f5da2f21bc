#pragma once

#include <QString>

// One inbox file to file and everything its filing needs, taken from the
// processor when the file is chosen: the filing thread works on this copy and
// shares nothing with the window's thread, whatever the window changes meanwhile.
struct FilingJob {
    QString inboxpath;
    QString outboxpath;
    QString errorspath;
    QString currentinfile;
    QString currentoutfile;
    QString folderFormat;
    QString fileNameFormat; // empty: the file keeps its inbox name
};
