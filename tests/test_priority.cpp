// The priority levels reach every thread of the process.
#include "window/ProcessPriority.h"

#include <QDir>
#include <QThread>
#include <QtTest>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct ThreadLevel {
    int policy;
    int nice;
};

QList<ThreadLevel> levelsOfEveryThread()
{
    QList<ThreadLevel> levels;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const pid_t thread = task.toInt();
        errno = 0;
        levels.append({sched_getscheduler(thread), getpriority(PRIO_PROCESS, id_t(thread))});
    }
    return levels;
}

} // namespace

class TestPriority : public QObject {
    Q_OBJECT

    QThread worker_;

private slots:
    // A second thread that is already running when the level changes.
    void initTestCase()
    {
        worker_.start();
        QVERIFY(levelsOfEveryThread().size() >= 2);
    }
    void cleanupTestCase()
    {
        SetProcessPriority(ProcessPriority::Normal);
        worker_.quit();
        worker_.wait();
    }

    void lowPutsEveryThreadAtTheIdleLevel()
    {
        SetProcessPriority(ProcessPriority::Low);
        for (const ThreadLevel& level : levelsOfEveryThread())
            QCOMPARE(level.policy, SCHED_IDLE);
    }

    void normalBringsEveryThreadBack()
    {
        SetProcessPriority(ProcessPriority::Low);
        SetProcessPriority(ProcessPriority::Normal);
        for (const ThreadLevel& level : levelsOfEveryThread()) {
            QCOMPARE(level.policy, SCHED_OTHER);
            QCOMPARE(level.nice, 0);
        }
    }

    // The system may refuse High and Realtime (no privilege, no real-time
    // budget): nothing is reported, and every thread ends at the same level,
    // the new one or the one before.
    void higherLevelsApplyAlikeOrNotAtAll()
    {
        SetProcessPriority(ProcessPriority::Normal);
        SetProcessPriority(ProcessPriority::High);
        const QList<ThreadLevel> high = levelsOfEveryThread();
        for (const ThreadLevel& level : high) {
            QCOMPARE(level.policy, SCHED_OTHER);
            QCOMPARE(level.nice, high.first().nice);
        }
        QVERIFY(high.first().nice == -10 || high.first().nice == 0);
        if (::geteuid() == 0)
            QCOMPARE(high.first().nice, -10);

        SetProcessPriority(ProcessPriority::Realtime);
        const QList<ThreadLevel> realtime = levelsOfEveryThread();
        for (const ThreadLevel& level : realtime)
            QCOMPARE(level.policy, realtime.first().policy);
        QVERIFY(realtime.first().policy == SCHED_RR || realtime.first().policy == SCHED_OTHER);
    }
};

QTEST_GUILESS_MAIN(TestPriority)
#include "test_priority.moc"
