#pragma once

#include "engine/FolderFormat.h"

#include <QList>
#include <QString>
#include <QStringList>

// Where files would go, shown before anything is filed: the first few inbox
// audio files by name (of every format) with their tags, read once, or an
// example song when the inbox has none. Each format typed is then answered by
// processor::destination, the very function that files, under the outbox's
// naming rules. Made on any thread: its reads may take a while.
class FilingPreview {
public:
    FilingPreview(const QString& inboxpath, const QString& outboxpath, int count = 3);

    // One line per file: its inbox name, then the path it would get under the
    // outbox, or why it cannot be filed by its tags.
    QStringList lines(const QString& folderFormat, const QString& fileNameFormat) const;

private:
    struct Sample {
        QString name;
        TagValues tags;
        QString failure; // why its tags cannot be read
    };
    QList<Sample> samples_;
    bool example_ = false;
    NameRules rules_ = NameRules::Posix;
};
