// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TRAYPRESENCE_H
#define TRAYPRESENCE_H

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

class QAbstractButton;
class QDialog;

// The client's place on the desktop: the tray icon and its menu where the
// desktop has a tray, and what stands in for it where it has none (GNOME as
// shipped, a bare X server). Without a tray a hidden window could never be
// found again, so the main window goes to the task bar instead of hiding, a
// quit control shows on the window itself, and closing the login dialog while
// nobody is signed in ends the client. A tray that appears or goes away later
// is noticed within a couple of seconds and the behaviour follows it.
class TrayPresence : public QObject
{
    Q_OBJECT
public:
    // `window` is the main window, `loginDialog` the dialog shown in its place
    // while nobody is signed in; the two lines head the menu.
    TrayPresence(QWidget *window, QDialog *loginDialog, const QString &userLine, const QString &profileLine,
                 QObject *parent = nullptr);
    ~TrayPresence() override;

    QMenu *menu() { return &trayMenu; }
    // True when a window asked to hide must go to the task bar instead: there
    // is no tray to bring it back from, and the client is not quitting.
    bool keepsWindowsOnTaskBar() const { return !available && !quitting; }

    // The menu entries, and what closing the login dialog does, for a
    // signed-in user (true) or for nobody signed in (false).
    void setSignedIn(bool signedIn);
    void setInfoLines(const QString &user, const QString &profile);
    // A control on a window that quits the client; shown only without a tray.
    void addQuitControl(QAbstractButton *control);
    // Says, once and without blocking any window, that there is no tray.
    void warnIfMissing();

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void activated(QSystemTrayIcon::ActivationReason reason);
    // The menu is about to show: its two lines want refreshing.
    void infoNeeded();
    void showRequested();
    void conserveRequested();
    void logoutRequested();

private:
    void checkTray();
    void keepReachable();
    void onLoginDialogFinished();

    QWidget *window;
    QDialog *loginDialog;

    QSystemTrayIcon trayIcon;
    QMenu trayMenu;
    QAction *actUser = nullptr;
    QAction *actBucket = nullptr;
    QAction *actShow = nullptr;
    QAction *actConserva = nullptr;
    QAction *actLogout = nullptr;
    QAction *actLogin = nullptr;
    QAction *actQuit = nullptr;

    QList<QPointer<QAbstractButton>> quitControls;
    QPointer<QWidget> warningBox;
    QTimer trayCheck;
    bool available = false;
    bool signedIn = false;
    bool quitting = false;
    bool warned = false;
};

#endif // TRAYPRESENCE_H
