// The program ends cleanly when the system asks it to: exit status 0, a copy
// under way abandoned, nothing left half written.
#include "Mp3Fixture.h"
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "window/TerminationSignals.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>

class TestShutdown : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QString folder(const QString& name) const { return root_.filePath(name); }

    static void start(QProcess& program)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(TOVREL_PATH), {});
        QVERIFY(program.waitForStarted());
    }

    // Every file under the folders, by path relative to them.
    QStringList filesUnderRoot() const
    {
        QStringList files;
        QDirIterator it(root_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(root_.path()).relativeFilePath(it.next());
        files.sort();
        return files;
    }

private slots:
    void initTestCase()
    {
        TestSupport::clearSettingsWithFoldersIn(root_.path());
        SettingsStore::write(Setting::State, "True");
    }

    // A burst of the signal comes while a large file is being copied: within a second the program ends with status
    // 0, its temporary copy is gone and the inbox file is whole.
    void signalAbandonsTheCopyUnderWay()
    {
        QDir(root_.path()).removeRecursively();
        const qint64 size = qint64(2) << 30;
        QVERIFY(Mp3Fixture::writeLarge(folder("inbox/big.mp3"), {"Artist", "Album", "Big", "1"}, size));
        const auto head = [this] {
            QFile file(folder("inbox/big.mp3"));
            return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
        };
        const QByteArray before = head();

        QProcess program;
        start(program);
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(folder("outbox/.tovrel-partial")).isEmpty(), 10000); // copying
        QElapsedTimer ending;
        ending.start();
        for (int sent = 0; sent < 3000; ++sent) // far more than the request socket holds
            ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QVERIFY2(ending.elapsed() < 1000, qPrintable(QString::number(ending.elapsed())));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);

        QCOMPARE(filesUnderRoot(), QStringList{"inbox/big.mp3"});
        QCOMPARE(QFileInfo(folder("inbox/big.mp3")).size(), size);
        QCOMPARE(head(), before);
    }

    void burstOfRequestsIsOneRequest_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    // Each of the signals is a request: the handler keeps the errno of the code it interrupts, never blocks, and
    // all pending requests are taken as one.
    void burstOfRequestsIsOneRequest()
    {
        QFETCH(int, signalNumber);
        TerminationSignals termination;
        QSignalSpy requests(&termination, &TerminationSignals::terminationRequested);
        errno = EDOM;
        for (int raised = 0; raised < 5000; ++raised)
            std::raise(signalNumber);
        QCOMPARE(errno, EDOM);
        QTRY_VERIFY(!requests.isEmpty());
        QTest::qWait(100);
        QCOMPARE(requests, QList<QVariantList>{{signalNumber}});
    }

    // While start-up asks for other folders (message, Options dialog, again and
    // again), a request to end still ends the program.
    void signalEndsTheFolderRecovery()
    {
        SettingsStore::write(Setting::InboxPath, folder("missing/inbox"));
        QProcess program;
        start(program);
        QTest::qWait(1500);
        QCOMPARE(program.state(), QProcess::Running);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(folder("missing")));
    }
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "test_shutdown.moc"
