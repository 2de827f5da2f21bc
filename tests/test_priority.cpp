// The priority levels reach every thread of the process alike.
#include "window/ProcessPriority.h"

#include <QDir>
#include <QThread>
#include <QtTest>

#include <sched.h>
#include <sys/resource.h>

namespace {

// The scheduling policy and nice value of each thread of this process.
QList<std::pair<int, int>> levelsOfEveryThread()
{
    QList<std::pair<int, int>> levels;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        levels.append({sched_getscheduler(task.toInt()), getpriority(PRIO_PROCESS, id_t(task.toInt()))});
    return levels;
}

void verifyEveryThreadAt(int policy, int nice)
{
    for (const auto& level : levelsOfEveryThread())
        QCOMPARE(level, std::make_pair(policy, nice));
}

} // namespace

class TestPriority : public QObject {
    Q_OBJECT

private slots:
    void levels()
    {
        QThread worker; // a second thread, already running when the level changes
        worker.start();
        QVERIFY(levelsOfEveryThread().size() >= 2);
        SetProcessPriority(ProcessPriority::Low);
        verifyEveryThreadAt(SCHED_IDLE, 0);
        SetProcessPriority(ProcessPriority::Normal);
        verifyEveryThreadAt(SCHED_OTHER, 0);
        worker.quit();
        worker.wait();
    }
};

QTEST_GUILESS_MAIN(TestPriority)
#include "test_priority.moc"
