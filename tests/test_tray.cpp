// The tray icon on a real X display with a notification area: run under
// xvfb-run, with trayer as the tray host and xdotool to click the icon as a
// user would.
#include "TestSupport.h"

#include "config/SettingsStore.h"
#include "window/Form1.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

QColor topColour(const QIcon& icon)
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
    std::unique_ptr<Form1> form_;
    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;

private slots:
    void initTestCase()
    {
        trayHost_.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"});
        QVERIFY(trayHost_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

        TestSupport::clearSettings();
        SettingsStore::write(Setting::State, "False");
        for (const Setting folder : {Setting::InboxPath, Setting::OutboxPath, Setting::ErrorsPath})
            SettingsStore::write(folder, root_.filePath(QString::number(int(folder))));
        form_ = std::make_unique<Form1>();
        form_->show();
        icon_ = form_->findChild<QSystemTrayIcon*>();
        menu_ = form_->findChild<QMenu*>("mService");
        QVERIFY(icon_);
        QTRY_VERIFY(!icon_->geometry().isEmpty());
    }

    void cleanupTestCase()
    {
        form_.reset();
        trayHost_.kill();
        trayHost_.waitForFinished();
    }

    void iconShowsTheTitleAndTheSwitch()
    {
        QVERIFY(icon_->isVisible());
        QCOMPARE(icon_->toolTip(), kApplicationTitle);
        QCOMPARE(topColour(icon_->icon()), kRed);
        form_->findChild<QAction*>("mStart")->trigger();
        QCOMPARE(topColour(icon_->icon()), kGreen);
        form_->findChild<QAction*>("mStop")->trigger();
        QCOMPARE(topColour(icon_->icon()), kRed);
    }

    void rightButtonOpensTheMenuLeftButtonDoesNot()
    {
        click(*icon_, 1);
        QTest::qWait(300);
        QVERIFY(!menu_->isVisible());
        click(*icon_, 3);
        QTRY_VERIFY(menu_->isVisible());
        menu_->hide();
    }

    void minimizingHidesTheWindowUntilShow()
    {
        form_->showMinimized();
        QTRY_VERIFY(!form_->isVisible());
        form_->findChild<QAction*>("mShow")->trigger();
        QVERIFY(form_->isVisible() && !form_->isMinimized());
    }

    // The program itself, started minimized where there is a tray, shows only its icon until it is started again.
    void minimizedStartShowsOnlyTheIconUntilStartedAgain()
    {
        QProcess program;
        program.start(QStringLiteral(TOVREL_PATH), {"--minimized"});
        const auto windows = [&](const QStringList& only) {
            QProcess search; // names the program's windows, one a line
            search.start("xdotool",
                         QStringList{"search", "--all", "--pid", QString::number(program.processId())} + only);
            return search.waitForFinished() ? search.readAllStandardOutput().count('\n') : -1;
        };
        const QStringList shown{"--onlyvisible", "--name", kApplicationTitle};
        QTRY_VERIFY_WITH_TIMEOUT(windows({}) > 0, 10000); // its icon, at least
        QTest::qWait(500);
        QCOMPARE(windows(shown), 0);
        QCOMPARE(QProcess::execute(QStringLiteral(TOVREL_PATH), {}), 0);
        QTRY_COMPARE(windows(shown), 1);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
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
    qputenv("QT_QPA_PLATFORM", "xcb"); // the X display xvfb-run provides
    QApplication app(argc, argv);
    TestTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tray.moc"
