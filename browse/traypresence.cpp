// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/traypresence.h"

#include "app/prompts.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QScreen>

namespace {
// Qt tells nobody when a tray comes or goes; asking costs one round trip to
// the display server while there is none, and nothing while there is one.
constexpr int kTrayCheckMs = 2000;
} // namespace

TrayPresence::TrayPresence(QWidget *mainWindow, QDialog *login, const QString &userLine,
                           const QString &profileLine, QObject *parent)
    : QObject(parent)
    , window(mainWindow)
    , loginDialog(login)
    , available(QSystemTrayIcon::isSystemTrayAvailable())
{
    actUser = trayMenu.addAction(userLine);
    QFont bold = actUser->font();
    bold.setWeight(QFont::Bold);
    actUser->setFont(bold);
    actBucket = trayMenu.addAction(profileLine);
    trayMenu.addSeparator();
    actShow = trayMenu.addAction(tr("&Mostra"));
    trayMenu.addSeparator();
    actConserva = trayMenu.addAction(tr("Conserva file"));
    trayMenu.addSeparator();
    actLogout = trayMenu.addAction(tr("Logout"));
    actLogin = trayMenu.addAction(tr("Login"));
    actQuit = trayMenu.addAction(tr("Esci"));

    connect(actShow, &QAction::triggered, this, &TrayPresence::showRequested);
    connect(actConserva, &QAction::triggered, this, &TrayPresence::conserveRequested);
    connect(actLogout, &QAction::triggered, this, &TrayPresence::logoutRequested);
    connect(actLogin, &QAction::triggered, loginDialog, &QWidget::show);
    connect(actQuit, &QAction::triggered, qApp, &QCoreApplication::quit);
    // The lines are current before the menu measures itself, so it is placed
    // on screen at its real width the first time too.
    connect(&trayMenu, &QMenu::aboutToShow, this, &TrayPresence::infoNeeded);
    connect(&trayIcon, &QSystemTrayIcon::activated, this, &TrayPresence::activated);

    trayIcon.setContextMenu(&trayMenu);
    trayIcon.setIcon(QIcon(QStringLiteral(":/images/tavrellite.png")));
    trayIcon.setToolTip(tr("Tavrel Lite"));
    // Shown even without a tray: Qt docks it as soon as one appears.
    trayIcon.show();
    setSignedIn(false);

    connect(loginDialog, &QDialog::finished, this, &TrayPresence::onLoginDialogFinished);
    QCoreApplication::instance()->installEventFilter(this);
    connect(&trayCheck, &QTimer::timeout, this, &TrayPresence::checkTray);
    trayCheck.start(kTrayCheckMs);
}

TrayPresence::~TrayPresence()
{
    delete warningBox;
}

void TrayPresence::setSignedIn(bool on)
{
    signedIn = on;
    actUser->setVisible(on);
    actBucket->setVisible(on);
    actShow->setVisible(on);
    actConserva->setVisible(on);
    actLogout->setVisible(on);
    actLogin->setVisible(!on);
    actQuit->setVisible(true);
}

void TrayPresence::setInfoLines(const QString &user, const QString &profile)
{
    actUser->setText(user);
    actBucket->setText(profile);
}

void TrayPresence::addQuitControl(QAbstractButton *control)
{
    quitControls << control;
    connect(control, &QAbstractButton::clicked, qApp, &QCoreApplication::quit);
    control->setVisible(!available);
}

void TrayPresence::warnIfMissing()
{
    if (available || warned)
        return;
    warned = true;
    warningBox = Prompts::nonBlockingWarning(nullptr, tr("Errore"), tr("Il sistema non dispone di un'area di notifica"));
    if (!warningBox || !loginDialog->isVisible())
        return;
    // Both would open in the middle of the screen: the warning goes below
    // the login dialog (above it when there is no room), not over its fields.
    constexpr int gap = 12;
    const QRect dialog = loginDialog->frameGeometry();
    const QRect screen = loginDialog->screen()->availableGeometry();
    QRect box(QPoint(), warningBox->frameGeometry().size());
    box.moveLeft(dialog.center().x() - box.width() / 2);
    box.moveTop(dialog.bottom() + gap);
    if (box.bottom() > screen.bottom())
        box.moveBottom(dialog.top() - gap);
    if (screen.contains(box))
        warningBox->move(box.topLeft());
}

void TrayPresence::checkTray()
{
    const bool now = QSystemTrayIcon::isSystemTrayAvailable();
    if (now == available)
        return;
    available = now;
    for (QAbstractButton *control : std::as_const(quitControls))
        if (control)
            control->setVisible(!available);
    if (!available)
        keepReachable();
}

void TrayPresence::keepReachable()
{
    // The window that was tucked away in the tray goes to the task bar.
    if (available)
        return;
    if (signedIn) {
        if (window->isHidden()) {
            window->setWindowState(window->windowState() | Qt::WindowMinimized);
            window->setVisible(true);
        }
    } else if (loginDialog->isHidden()) {
        loginDialog->showMinimized();
    }
}

void TrayPresence::onLoginDialogFinished()
{
    // Closed by the user while nobody is signed in, with no tray to come back
    // from: the client ends. Queued, because the dialog is still closing.
    if (signedIn || available || quitting)
        return;
    QMetaObject::invokeMethod(
        this, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

bool TrayPresence::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Quit || watched != QCoreApplication::instance() || quitting)
        return QObject::eventFilter(watched, event);
    // Before it quits, the application asks every window to close, and gives
    // up when one stays on screen. While this quit is decided the main window
    // really closes instead of going to the task bar.
    quitting = true;
    QCoreApplication::sendEvent(watched, event);
    quitting = event->isAccepted();
    // Another window refused (a preservation the user goes on with): the
    // client runs on, and its main window must still be within reach.
    if (!quitting)
        keepReachable();
    return true;
}
