// The tray icon and the window on a real X display as a user meets them: openbox, the tray host trayer, xdotool.
#include "TestSupport.h"

#include "config/SettingsKeys.h"
#include "window/MainWindow.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QString xOutput(const QString& program, const QStringList& arguments)
{
    QProcess query;
    query.start(program, arguments);
    query.waitForFinished();
    return QString::fromLatin1(query.readAllStandardOutput());
}

QImage onScreen(const QRect& frame)
{
    const QPixmap shot =
        QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QProcess windowManager_, trayHost_;
    std::unique_ptr<MainWindow> form_;
    QSystemTrayIcon* icon_ = nullptr;
    QImage emptyScreen_;

    void trigger(const char* item) { form_->findChild<QAction*>(item)->trigger(); }

private slots:
    // The tray host starts after the program, as a panel often does at login.
    void initTestCase()
    {
        windowManager_.start("openbox", {});
        QTRY_VERIFY(xOutput("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"));
        emptyScreen_ = onScreen(QGuiApplication::primaryScreen()->geometry());
        TestSupport::clearSettingsWithFoldersIn(root_.path());
        form_ = std::make_unique<MainWindow>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        icon_ = form_->findChild<QSystemTrayIcon*>();
        QVERIFY(!icon_ || !icon_->isVisible());
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&trayHost_, &windowManager_})
            process->kill(), process->waitForFinished();
    }

    // The icon shows the service light, and the menu on the right button only. Minimized by the window manager, the
    // window leaves the screen and the taskbar (its client list); "Show" brings it back drawn and active. Stop leaves
    // the focus on no text box; the window can be maximized.
    void iconAppearsWithTheTrayThenTakesTheMinimizedWindow()
    {
        trayHost_.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"});
        QTRY_VERIFY_WITH_TIMEOUT((icon_ = form_->findChild<QSystemTrayIcon*>()) && icon_->isVisible(), 10000);
        QTRY_VERIFY(!icon_->geometry().isEmpty());
        QCOMPARE(icon_->toolTip(), kApplicationTitle);
        const auto light = [&] { return icon_->icon().pixmap(32, 32).toImage().pixelColor(16, 4); };
        QCOMPARE(light(), QColor(Qt::green)); // the service started on
        trigger("mStop");
        QCOMPARE(light(), QColor(Qt::red));
        trigger("mStart");
        QCOMPARE(light(), QColor(Qt::green));
        auto* menu = form_->findChild<QMenu*>("mService");
        for (const char* button : {"1", "3"}) { // left, right
            const QPoint centre = icon_->geometry().center();
            QProcess::execute("xdotool",
                              {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", button});
            QTest::qWait(300);
            QTRY_COMPARE(menu->isVisible(), *button == '3');
        }
        menu->hide();

        const QRect frame = form_->frameGeometry();
        QProcess::execute("xdotool", {"windowminimize", QString::number(form_->winId())});
        QTRY_VERIFY(!form_->isVisible());
        QTRY_COMPARE(onScreen(frame), emptyScreen_.copy(frame));
        QVERIFY(!xOutput("xprop", {"-root", "_NET_CLIENT_LIST"}).contains(QString::number(form_->winId(), 16)));
        trigger("mShow");
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QTRY_COMPARE(onScreen(form_->geometry()).pixelColor(2, 2), form_->palette().window().color());

        auto* stop = form_->findChild<QPushButton*>("cmdStop");
        stop->setFocus();
        stop->click();
        QVERIFY(form_->focusWidget() && !qobject_cast<QLineEdit*>(form_->focusWidget()));
        form_->showMaximized();
        QTRY_VERIFY(form_->frameGeometry().width() > frame.width() && form_->frameGeometry().height() > frame.height());
        form_->showNormal();
    }

    // The program itself, started minimized where there is a tray, shows only its icon until it is started again.
    // Last: Exit removes the icon at once, the window right after.
    void minimizedStartShowsOnlyTheIconUntilStartedAgainAndExit()
    {
        QProcess program;
        program.start(QStringLiteral(TOVREL_PATH), {"--minimized"});
        const auto windows = [&](const QStringList& only) { // the program's windows, one a line
            return xOutput("xdotool",
                           QStringList{"search", "--all", "--pid", QString::number(program.processId())} + only)
                .count('\n');
        };
        const QStringList shown{"--onlyvisible", "--name", kApplicationTitle};
        QTRY_VERIFY_WITH_TIMEOUT(windows({}) > 0, 10000); // its icon, at least
        QTest::qWait(500);
        QCOMPARE(windows(shown), 0);
        QCOMPARE(QProcess::execute(QStringLiteral(TOVREL_PATH), {}), 0);
        QTRY_COMPARE(windows(shown), 1);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        trigger("mExit");
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
