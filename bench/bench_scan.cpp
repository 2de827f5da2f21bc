// Times one inbox pass over 1,000 and 10,000 small files next to the bare
// system work on the same files (listing the folder, opening and closing each
// file once) and prints their ratios.
#include "engine/processor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

// Microseconds taken by one run of `work`.
double timeOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1000.0;
}

void bareWork(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY);
        if (fd >= 0)
            ::close(fd);
    }
    ::closedir(dir);
}

void fillInbox(const QString& inbox, int files, qint64 size)
{
    for (int i = 0; i < files; ++i) {
        QFile file(inbox + QStringLiteral("song %1.mp3").arg(i, 5, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.resize(size);
    }
}

void measure(int files, QTextStream& out)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("inbox");
    QDir(dir.path()).mkpath("outbox");
    const QString inbox = dir.filePath("inbox/");
    // Files as long as a terabyte (sparse, taking no room) fit nowhere, so
    // getnextfile examines every one of them before it gives up: its worst case.
    fillInbox(inbox, files, qint64(1) << 40);

    processor p;
    p.setInboxpath(inbox);
    p.setOutboxpath(dir.filePath("outbox/"));
    // The best of 15 runs each, interleaved, so that a disturbance of the
    // machine touches all three alike.
    double bare = 1e300, stats = 1e300, next = 1e300;
    for (int round = 0; round < 15; ++round) {
        bare = std::min(bare, timeOf([&] { bareWork(QFile::encodeName(inbox)); }));
        stats = std::min(stats, timeOf([&] { p.updatestats(); }));
        next = std::min(next, timeOf([&] { p.getnextfile(); }));
    }
    out << QStringLiteral("%1 files: bare work %2 ms, updatestats %3 ms (ratio %4), getnextfile %5 ms (ratio %6)\n")
               .arg(files)
               .arg(bare / 1000, 0, 'f', 2)
               .arg(stats / 1000, 0, 'f', 2)
               .arg(stats / bare, 0, 'f', 2)
               .arg(next / 1000, 0, 'f', 2)
               .arg(next / bare, 0, 'f', 2);
    out.flush();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "Inbox pass (target: updatestats at 10,000 files within 2 times the bare work)\n";
    for (int files : {1000, 10000})
        measure(files, out);
    return 0;
}
