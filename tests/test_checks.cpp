// The file-system checks: existence, folders, files held open by other
// processes, free space and name cleaning.
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
        QVERIFY(FileExists(path("song.mp3")) && FileExists(path("folder")) && FileExists(path("s?ng.*")));
        QVERIFY(!FileExists(path("*.ogg")) && !FileExists(path("missing/song.mp3")));
        QVERIFY(IsFolderValid(path("folder")) && IsFolderValid(path("folder/")) &&
                IsFolderValid(path("folder/.hidden")));
        QVERIFY(IsFolderValid("") && IsFolderValid("/"));
        QVERIFY(!IsFolderValid(path("song.mp3")) && !IsFolderValid(path("missing")) &&
                !IsFolderValid(path("song.mp3/x")));
    }

    void fileIsFree_data()
    {
        QTest::addColumn<QString>("mode");
        for (const char* mode : {"read", "write", "mmap", "flock"})
            QTest::newRow(mode) << mode;
    }

    // Held by another process by any means: not free, and free again once let go.
    void fileIsFree()
    {
        QFETCH(QString, mode);
        QVERIFY(!FileIsFree(path("missing.mp3")) && !FileIsFree(path("folder")));
        HeldFile holder(mode, path("song.mp3"));
        QVERIFY(holder.isHolding());
        QVERIFY(!FileIsFree(path("song.mp3")));
        holder.release();
        QVERIFY(FileIsFree(path("song.mp3")));
    }

    // Open files and mappings: the two tables of /proc it reads.
    void fallbackLooksAtOtherProcesses_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("read") << "read";
        QTest::newRow("mmap") << "mmap";
    }

    // A checker that may not take a lease on the file (another user's, without
    // root) falls back to /proc, where it sees the holders of its own user.
    void fallbackLooksAtOtherProcesses()
    {
        QFETCH(QString, mode);
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        QTemporaryDir shared("/tmp/tovrel-fallback-XXXXXX");
        ::chmod(QFile::encodeName(shared.path()).constData(), 0755);
        const QString file = shared.filePath("root.mp3");
        TestSupport::writeFile(file);
        ::chmod(QFile::encodeName(file).constData(), 0644);
        const QStringList asNobody = TestSupport::asOrdinaryAccount();
        auto checkAsNobody = [&] {
            QProcess checker;
            checker.start(asNobody.first(), asNobody.mid(1) + QStringList{QCoreApplication::applicationFilePath(),
                                                                          "isFileFreeProbe", file});
            checker.waitForFinished(10000);
            return QString::fromLatin1(checker.readAllStandardOutput()).trimmed();
        };
        const QString before = checkAsNobody();
        if (before.isEmpty())
            QSKIP("the test executable cannot be run as another user from this folder");
        // Nobody is seen holding it, but its writer could be one of root's
        // processes, which this user cannot see: it waits to stand still.
        QCOMPARE(before, QStringLiteral("settling"));
        HeldFile holder(mode, file, asNobody);
        QVERIFY(holder.isHolding());
        QCOMPARE(checkAsNobody(), QStringLiteral("held"));
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

    void cleanName()
    {
        QCOMPARE(CleanName("AC/DC: Live?"), QStringLiteral("ACDC Live"));
        QCOMPARE(CleanName("\"A|B\" \\*<>"), QStringLiteral("A|B "));
        QCOMPARE(CleanName("??"), QString());
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
