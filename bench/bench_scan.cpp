// The cost of the inbox scan, as ratios measured in one run:
// - a quiet step (getnextfile and updatestats with nothing changed) at 10,
//   10,000 and 100,000 waiting files, next to the same step at 10 files
//   (target: within 2 times);
// - the full look that a step makes at start, after a lost event and about
//   once a minute, at 1,000 and 10,000 files, next to the bare system work on
//   the same files (listing the folder, opening and closing each file once).
//   It was the cost of every step while each step looked at every file (then
//   held within 2 times); now that it runs once a minute it is reported, with
//   no target of its own;
// - how long from a writer closing its file to the file counting as free
//   (target: the 2 seconds it must stand still, then the next step), and what
//   the steps meanwhile cost beside a settled backlog of 10,000 files.
#include "engine/processor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
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

double bestOf(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int run = 0; run < runs; ++run)
        best = std::min(best, timeOf(work));
    return best;
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

// An inbox and an outbox on a memory file system where there is one, so that
// filling them with 100,000 files takes seconds.
struct Folders {
    Folders() : root(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/bench_scan-XXXXXX") : QString())
    {
        QDir(root.path()).mkpath("inbox");
        QDir(root.path()).mkpath("outbox");
    }
    QTemporaryDir root;
    const QString inbox = root.filePath("inbox/");
    const QString outbox = root.filePath("outbox/");
};

// Files as long as a terabyte (sparse, taking no room) fit nowhere, so a step
// with the service on files none of them and nothing changes.
void fill(const QString& inbox, int files)
{
    for (int i = 0; i < files; ++i) {
        QFile file(inbox + QStringLiteral("song %1.mp3").arg(i, 6, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.resize(qint64(1) << 40);
    }
}

std::unique_ptr<processor> processorFor(const Folders& folders)
{
    auto p = std::make_unique<processor>();
    p->setInboxpath(folders.inbox);
    p->setOutboxpath(folders.outbox);
    return p;
}

void quietSteps(QTextStream& out)
{
    double atTen = 0;
    for (int files : {10, 10000, 100000}) {
        Folders folders;
        fill(folders.inbox, files);
        auto p = processorFor(folders);
        p->updatestats(); // the full look at start
        const double step = bestOf(200, [&] {
            p->getnextfile();
            p->updatestats();
        });
        if (files == 10)
            atTen = step;
        out << QStringLiteral("quiet step, %1 files: %2 us (ratio to 10 files %3)\n")
                   .arg(files)
                   .arg(step, 0, 'f', 1)
                   .arg(step / atTen, 0, 'f', 2);
        out.flush();
    }
}

void fullLooks(QTextStream& out)
{
    for (int files : {1000, 10000}) {
        Folders folders;
        fill(folders.inbox, files);
        double bare = 1e300, look = 1e300;
        for (int round = 0; round < 10; ++round) {
            bare = std::min(bare, timeOf([&] { bareWork(QFile::encodeName(folders.inbox)); }));
            auto p = processorFor(folders);
            look = std::min(look, timeOf([&] { p->updatestats(); }));
        }
        out << QStringLiteral("full look, %1 files: bare work %2 ms, full look %3 ms (ratio %4)\n")
                   .arg(files)
                   .arg(bare / 1000, 0, 'f', 2)
                   .arg(look / 1000, 0, 'f', 2)
                   .arg(look / bare, 0, 'f', 2);
        out.flush();
    }
}

void closedToFree(QTextStream& out)
{
    Folders folders;
    fill(folders.inbox, 10000);
    QThread::msleep(2100); // the backlog has stood still
    const QByteArray written = QFile::encodeName(folders.inbox + "written.mp3");
    const int writer = ::open(written.constData(), O_WRONLY | O_CREAT, 0644);
    auto p = processorFor(folders);
    p->updatestats();
    const int heldBefore = p->inboxlockcount();
    ::close(writer);
    QElapsedTimer sinceClose;
    sinceClose.start();
    int steps = 0;
    double taken = 0;
    while (p->inboxlockcount() != 0 && steps < 1000) {
        QThread::msleep(10);
        taken += timeOf([&] { p->updatestats(); });
        ++steps;
    }
    out << QStringLiteral("writer closes, 10000 files: held %1 before, free %2 ms after the close (it must stand "
                          "still 2 s), after %3 step(s) of %4 us on average\n")
               .arg(heldBefore)
               .arg(sinceClose.elapsed())
               .arg(steps)
               .arg(taken / qMax(steps, 1), 0, 'f', 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "Inbox scan (targets: quiet steps within 2 times the step at 10 files; a closed file free once it has "
           "stood still 2 s; the full look, about once a minute, is reported)\n";
    quietSteps(out);
    fullLooks(out);
    closedToFree(out);
    return 0;
}
