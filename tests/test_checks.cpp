// The file-system checks: existence, folders, files held open by other
// processes and free space.
#include "TestSupport.h"

#include "engine/commonold.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace commonold;
using TestSupport::HeldFile;

class TestChecks : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase()
    {
        TestSupport::writeFile(path("song.mp3"));
        QDir(dir_.path()).mkpath("folder/.hidden");
    }

    void existenceAndFolders()
    {
        // A name is never a pattern.
        TestSupport::writeFile(path("s[o]ng?.mp3"));
        QVERIFY(FileExists(path("song.mp3")) && FileExists(path("folder")) && FileExists(path("s[o]ng?.mp3")));
        QVERIFY(!FileExists(path("s?ng.*")) && !FileExists(path("*.mp3")) && !FileExists(path("missing/song.mp3")));
        QVERIFY(IsFolderValid(path("folder")) && IsFolderValid(path("folder/")) &&
                IsFolderValid(path("folder/.hidden")));
        QVERIFY(IsFolderValid("") && IsFolderValid("/"));
        QVERIFY(!IsFolderValid(path("song.mp3")) && !IsFolderValid(path("missing")) &&
                !IsFolderValid(path("song.mp3/x")));
    }

    void fileIsFree_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("seenInProc"); // open files and mappings: the two tables of /proc it reads
        for (const char* mode : {"read", "write", "mmap", "flock"})
            QTest::newRow(mode) << mode << (mode == QLatin1String("read") || mode == QLatin1String("mmap"));
    }

    // Held by another process by any means: not free, and free again once let go. A checker that may not take a
    // lease on the file (another user's, without root) falls back to /proc, where it sees its own user's holders.
    void fileIsFree()
    {
        QFETCH(QString, mode);
        QFETCH(bool, seenInProc);
        QVERIFY(!FileIsFree(path("missing.mp3")) && !FileIsFree(path("folder")));
        HeldFile holder(mode, path("song.mp3"));
        QVERIFY(holder.isHolding());
        QVERIFY(!FileIsFree(path("song.mp3")));
        holder.release();
        QVERIFY(FileIsFree(path("song.mp3")));
        if (!seenInProc)
            return;
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        QTemporaryDir shared("/tmp/tovrel-fallback-XXXXXX");
        const QString file = shared.filePath("root.mp3");
        TestSupport::writeFile(file);
        QVERIFY(::chmod(QFile::encodeName(shared.path()), 0755) == 0 && ::chmod(QFile::encodeName(file), 0644) == 0);
        const QStringList probe{QCoreApplication::applicationFilePath(), "isFileFreeProbe", file};
        const QString before = TestSupport::outputAsOrdinaryAccount(probe);
        // Nobody is seen holding it, but its writer could be one of root's
        // processes, which this user cannot see: it waits to stand still.
        QCOMPARE(before, QStringLiteral("settling"));
        HeldFile other(mode, file, TestSupport::asOrdinaryAccount());
        QVERIFY(other.isHolding());
        QCOMPARE(TestSupport::outputAsOrdinaryAccount(probe), QStringLiteral("held"));
    }

    // The margin is 1,000,000 bytes and strict. Free space may move while we
    // measure, so a measurement counts only when it held still around the asks.
    void hasRoomForKeepsAStrictMargin()
    {
        QCOMPARE(DiskFreeBytes(path("missing/folder")), 0);
        QVERIFY(!HasRoomFor(0, path("missing")));
        const QString shm = QFileInfo("/dev/shm").isWritable() ? "/dev/shm" : dir_.path();
        for (int attempt = 0; attempt < 20; ++attempt) {
            const qint64 free = DiskFreeBytes(shm);
            const bool atMargin = HasRoomFor(double(free - 1000000), shm);
            const bool belowMargin = HasRoomFor(double(free - 1000001), shm);
            if (DiskFreeBytes(shm) != free)
                continue;
            QVERIFY(!atMargin);
            QVERIFY(belowMargin);
            return;
        }
        QSKIP("free space kept changing");
    }
};

// Run as "test_checks isFileFreeProbe PATH", the executable answers "free",
// "held" or "settling" for PATH: the fallback test runs it as another user.
int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "isFileFreeProbe") == 0) {
        const FileCheck check = CheckFile(QFile::decodeName(argv[2]));
        std::puts(check.free ? "free" : check.settling ? "settling" : "held");
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestChecks checks;
    return QTest::qExec(&checks, argc, argv);
}

#include "test_checks.moc"
