#include "engine/PutBackNotes.h"

#include "engine/History.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace {

// The change time in nanoseconds, 0 when the file cannot be looked at.
qint64 changeTimeOf(const QString& path, quint64* inode = nullptr)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    if (inode)
        *inode = info.st_ino;
    return qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

} // namespace

PutBackNotes::PutBackNotes(const QString& folder) : path_(folder + QStringLiteral("/put-back")) {}

QString PutBackNotes::defaultFolder()
{
    return History::defaultFolder();
}

void PutBackNotes::note(const QString& inbox, const QString& name)
{
    refresh();
    Stamp stamp;
    stamp.changeTime = changeTimeOf(inbox + name, &stamp.inode);
    if (stamp.changeTime == 0)
        return;
    notes_.insert(name, stamp);
    save();
}

bool PutBackNotes::holds(const QString& name, quint64 inode, qint64 changeTime)
{
    const auto found = notes_.constFind(name);
    if (found == notes_.cend())
        return false;
    if (found->inode == inode && found->changeTime == changeTime)
        return true;
    forget(name);
    return false;
}

void PutBackNotes::forget(const QString& name)
{
    refresh();
    if (notes_.remove(name))
        save();
}

// Read again only when the file changed.
void PutBackNotes::refresh()
{
    const qint64 changed = changeTimeOf(path_);
    if (changed == loadedAt_)
        return;
    loadedAt_ = changed;
    notes_.clear();
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().chopped(1).split('\t');
        if (fields.size() == 3)
            notes_.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(fields[2])),
                          {fields[0].toULongLong(), fields[1].toLongLong()});
    }
}

// Written whole under a new name and renamed over the old: a reader never
// sees half of it. Names are percent-encoded, so each note stays one line.
void PutBackNotes::save()
{
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (auto note = notes_.cbegin(); note != notes_.cend(); ++note)
        file.write(QByteArray::number(note->inode) + '\t' + QByteArray::number(note->changeTime) + '\t' +
                   note.key().toUtf8().toPercentEncoding() + '\n');
    file.commit();
    loadedAt_ = changeTimeOf(path_);
}
