// The main window's notification-area icon: adding and removing it, its
// clicks, and hiding the minimized window to it.
#include "window/MainWindow.h"

#include "config/SettingsKeys.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEvent>
#include <QMenu>
#include <QTimer>

int MainWindow::ShellTrayAdd()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return 0;
    if (!TrayIconData)
        TrayIconData = new QSystemTrayIcon(this);
    // The picture shows the switch from the start, as turnon and turnoff keep it.
    TrayIconData->setIcon(QIcon(image(trayImage())));
    TrayIconData->setToolTip(kApplicationTitle);
    TrayIconData->show();
    return TrayIconData->isVisible() ? 1 : 0;
}

// A tray that starts after the program (a panel that autostarts later than it)
// gets the icon as soon as it appears: until then, a look once a second.
void MainWindow::addTrayIcon()
{
    if (ShellTrayAdd() == 1) {
        SubClass();
        return;
    }
    if (!trayWatch_) {
        trayWatch_ = new QTimer(this);
        trayWatch_->setInterval(1000);
        connect(trayWatch_, &QTimer::timeout, this, [this] {
            if (closing_ || !QSystemTrayIcon::isSystemTrayAvailable())
                return;
            trayWatch_->stop();
            addTrayIcon();
        });
    }
    trayWatch_->start();
}

void MainWindow::ShellTrayRemove()
{
    if (TrayIconData)
        TrayIconData->hide();
}

// The menu is opened here, on the right button, rather than handed to the icon
// with setContextMenu: on X11 Qt would then open it itself and report the
// click as well, and the menu would open twice.
void MainWindow::SubClass()
{
    if (TrayIconData)
        connect(TrayIconData, &QSystemTrayIcon::activated, this, &MainWindow::TrayWindowProc, Qt::UniqueConnection);
}

void MainWindow::UnSubClass()
{
    if (TrayIconData)
        disconnect(TrayIconData, &QSystemTrayIcon::activated, this, &MainWindow::TrayWindowProc);
}

// The right button brings the window forward, when it is shown, and opens the
// service menu at the mouse; other clicks do nothing.
void MainWindow::TrayWindowProc(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Context)
        return;
    if (isVisible()) {
        raise();
        activateWindow();
    }
    mService->popup(QCursor::pos());
}

bool MainWindow::trayIconShown() const
{
    return TrayIconData && TrayIconData->isVisible();
}

// "Show" brings the window back at its normal size, drawn and active. The
// minimized state is cleared only now: clearing it while hidden would have the
// window system map the window again behind Qt's back, an empty frame.
void MainWindow::showFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

// A minimized window leaves the screen and the taskbar and lives on as the
// tray icon. Without a notification area it stays on the taskbar instead,
// which is then the only way back to it.
void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !trayIconShown())
        return;
    // After the state change has run its course, so that the window manager
    // has finished minimizing before the window is withdrawn.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized())
            hide();
    });
}

// Through the icon where there is one; otherwise straight to the desktop's
// notification service (GNOME as shipped has no notification area). Without
// either, the status line and the history still tell.
void MainWindow::showNotice(const QString& text)
{
    if (trayIconShown()) {
        TrayIconData->showMessage(kApplicationTitle, text, QSystemTrayIcon::Warning);
        return;
    }
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
                            {QStringLiteral("desktop-entry"), QStringLiteral("tovrel")}};
    notify << kApplicationTitle << uint(0) << QStringLiteral("tovrel") << kApplicationTitle << text << QStringList()
           << hints << int(-1);
    QDBusConnection::sessionBus().send(notify);
}
