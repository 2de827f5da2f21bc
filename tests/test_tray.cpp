// The tray icon on a real X display with a notification area: a private Xvfb
// with trayer as the tray host, and xdotool to click the icon as a user would.
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "window/Form1.h"

#include <QAction>
#include <QMenu>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

bool hasTools()
{
    for (const char* tool : {"Xvfb", "trayer", "xdotool"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return false;
    return true;
}

// Starts Xvfb on the first free display and points DISPLAY at it; answers its
// process id, or 0 when it did not come up.
pid_t startXvfb()
{
    for (int display = 70; display < 100; ++display) {
        const QByteArray socket = "/tmp/.X11-unix/X" + QByteArray::number(display);
        const QByteArray lock = "/tmp/.X" + QByteArray::number(display) + "-lock";
        if (QFile::exists(socket) || QFile::exists(lock))
            continue;
        const QByteArray name = ":" + QByteArray::number(display);
        const pid_t server = fork();
        if (server == 0) {
            execlp("Xvfb", "Xvfb", name.constData(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int wait = 0; wait < 100 && !QFile::exists(socket); ++wait)
            usleep(50000);
        if (!QFile::exists(socket)) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
            continue;
        }
        qputenv("DISPLAY", name);
        return server;
    }
    return 0;
}

QColor centreColour(const QIcon& icon)
{
    return icon.pixmap(32, 32).toImage().pixelColor(16, 4);
}

// Clicks `button` (1 left, 3 right) at the centre of the icon.
void click(const QSystemTrayIcon& icon, int button)
{
    const QPoint centre = icon.geometry().center();
    QProcess::execute("xdotool", {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click",
                                  QString::number(button)});
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QProcess trayHost_;
    Form1* form_ = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;

private slots:
    void initTestCase()
    {
        if (!hasTools())
            QSKIP("needs Xvfb, trayer and xdotool (./build.sh test installs them)");
        trayHost_.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"});
        QVERIFY(trayHost_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

        TestSupport::clearSettings();
        SettingsStore::write(Setting::State, "False");
        SettingsStore::write(Setting::InboxPath, root_.filePath("inbox"));
        SettingsStore::write(Setting::OutboxPath, root_.filePath("outbox"));
        SettingsStore::write(Setting::ErrorsPath, root_.filePath("errors"));
        form_ = new Form1;
        form_->show();
        icon_ = form_->findChild<QSystemTrayIcon*>();
        menu_ = form_->findChild<QMenu*>("mService");
        QVERIFY(icon_);
        QTRY_VERIFY(!icon_->geometry().isEmpty());
    }

    void cleanupTestCase()
    {
        delete form_;
        trayHost_.kill();
        trayHost_.waitForFinished();
    }

    void iconShowsTheTitleAndTheSwitch()
    {
        QVERIFY(icon_->isVisible());
        QCOMPARE(icon_->toolTip(), QStringLiteral("Valdrome Kestu Tovrel"));
        QCOMPARE(centreColour(icon_->icon()), kRed);
        form_->findChild<QAction*>("mStart")->trigger();
        QCOMPARE(centreColour(icon_->icon()), kGreen);
        form_->findChild<QAction*>("mStop")->trigger();
        QCOMPARE(centreColour(icon_->icon()), kRed);
    }

    void rightButtonOpensTheMenuLeftButtonDoesNot()
    {
        click(*icon_, 1);
        QTest::qWait(300);
        QVERIFY(!menu_->isVisible());
        click(*icon_, 3);
        QTRY_VERIFY(menu_->isVisible());
        QVERIFY(menu_->geometry().contains(icon_->geometry().center()) ||
                menu_->geometry().intersects(icon_->geometry().adjusted(-40, -40, 40, 40)));
        menu_->hide();
    }

    void minimizingHidesTheWindowUntilShow()
    {
        form_->showMinimized();
        QTRY_VERIFY(!form_->isVisible());
        QVERIFY(!form_->isMinimized());
        form_->findChild<QAction*>("mShow")->trigger();
        QVERIFY(form_->isVisible());
        QVERIFY(!form_->isMinimized());
    }

    // Last: the icon goes at once, the window right after.
    void exitRemovesTheIconAtOnce()
    {
        form_->findChild<QAction*>("mExit")->trigger();
        QVERIFY(!icon_->isVisible());
        QVERIFY(form_->isVisible());
        QTRY_VERIFY(!form_->isVisible());
    }
};

int main(int argc, char* argv[])
{
    pid_t server = 0;
    if (hasTools()) {
        server = startXvfb();
        if (!server) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int status;
    {
        QApplication app(argc, argv);
        TestTray test;
        status = QTest::qExec(&test, argc, argv);
    }
    if (server) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return status;
}

#include "test_tray.moc"
