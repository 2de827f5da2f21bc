// The tray icon and the window on a real X display (xvfb-run), as a desktop user meets them: openbox as the window
// manager, trayer as the tray host, and xdotool to click and minimize as a user would.
#include "TestSupport.h"

#include "config/SettingsKeys.h"
#include "window/Form1.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// The service light's colour, at the top of the icon.
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

QString xOutput(const QString& program, const QStringList& arguments)
{
    QProcess query;
    query.start(program, arguments);
    query.waitForFinished();
    return QString::fromLatin1(query.readAllStandardOutput());
}

// What the screen shows where `frame` is.
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
    std::unique_ptr<Form1> form_;
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
        form_ = std::make_unique<Form1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        icon_ = form_->findChild<QSystemTrayIcon*>();
        QVERIFY(!icon_ || !icon_->isVisible());
    }

    void cleanupTestCase()
    {
        form_.reset();
        for (QProcess* process : {&trayHost_, &windowManager_}) {
            process->kill();
            process->waitForFinished();
        }
    }

    void iconAppearsWithTheTrayShowsTheSwitchAndOpensTheMenu()
    {
        trayHost_.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"});
        QTRY_VERIFY_WITH_TIMEOUT((icon_ = form_->findChild<QSystemTrayIcon*>()) && icon_->isVisible(), 10000);
        QTRY_VERIFY(!icon_->geometry().isEmpty());
        QCOMPARE(icon_->toolTip(), kApplicationTitle);
        QCOMPARE(topColour(icon_->icon()), QColor(Qt::green)); // the service started on
        trigger("mStop");
        QCOMPARE(topColour(icon_->icon()), QColor(Qt::red));
        trigger("mStart");
        QCOMPARE(topColour(icon_->icon()), QColor(Qt::green));
        auto* menu = form_->findChild<QMenu*>("mService");
        click(*icon_, 1); // the left button does nothing, the right one opens the menu
        QTest::qWait(300);
        QVERIFY(!menu->isVisible());
        click(*icon_, 3);
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
    }

    // Minimized by the window manager, the window leaves the screen and the taskbar (the window manager's client list);
    // "Show" brings it back drawn and active. Stop leaves the focus on no text box; the window can be maximized.
    void minimizingWithdrawsTheWindowUntilShow()
    {
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
    void minimizedStartShowsOnlyTheIconUntilStartedAgain()
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
    }

    // Last: the icon goes at once, the window right after.
    void exitRemovesTheIconAtOnce()
    {
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
