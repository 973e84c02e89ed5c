// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's side of preservation and rectification: "Conserva" (button
// and tray), files dropped on the window, "Rettifica" of the selected file, and
// the bookkeeping of the one preservation dialog the window knows of.

#include "browse/coremain.h"
#include "browse/traypresence.h"

#include "app/prompts.h"
#include "conserve/conservafiledialog.h"
#include "browse/filelistquery.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "ui_coremain.h"

#include <QAbstractProxyModel>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QUrl>

#include <array>
#include <memory>

void CoreMain::wireConserve()
{
    connect(ui->btmConserva, &QAbstractButton::clicked, this, &CoreMain::showConserveDialog);
    connect(tray, &TrayPresence::conserveRequested, this, &CoreMain::showConserveDialog);
    connect(ui->btmSostituisci, &QAbstractButton::clicked, this, &CoreMain::onSostituisciClick);
    connect(actRettifica, &QAction::triggered, this, &CoreMain::onSostituisciClick);
}

ConservaFileDialog *CoreMain::conserveDialog() const
{
    return winConserve;
}

ConservaFileDialog *CoreMain::openConserveDialog(const QString &path, QWidget *parent)
{
    auto *dialog = new ConservaFileDialog(path, jar, idBucket, nameBucket, QString(), false, parent);
    winConserve = dialog;
    connect(dialog, &ConservaFileDialog::closewindow, this, &CoreMain::resetWinConserve);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

// True (after telling the user) while another preservation is under way.
bool CoreMain::refuseWhileBusy(CoreMain *window, ConservaFileDialog *open, const QString &chosen, bool choosing)
{
    if (!open && chosen.isEmpty() && !choosing)
        return false;
    Prompts::warning(window, CoreMain::tr("Conservazione file"),
                     CoreMain::tr("E' in esecuzione un altro processo di conservazione, per poterne avviare un "
                                  "altro devi prima concludere quello in corso"));
    window->showForeground(open);
    return true;
}

void CoreMain::showConserveDialog()
{
    if (refuseWhileBusy(this, winConserve, pathFileConserve, choosingFile))
        return;
    showForeground(this);
    QCoreApplication::processEvents();
    choosingFile = true;
    pathFileConserve = Prompts::openFileName(this, tr("Seleziona un file"), QDir::homePath());
    if (pathFileConserve.isEmpty()) {
        choosingFile = false;
        return;
    }
    ConservaFileDialog *dialog = openConserveDialog(pathFileConserve, this);
    connect(dialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
    showForeground(dialog);
}

void CoreMain::dropEvent(QDropEvent *event)
{
    if (refuseWhileBusy(this, winConserve, pathFileConserve, choosingFile))
        return;
    const QMimeData *data = event->mimeData();
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return;
    choosingFile = true;
    // Only the first of several dropped files is preserved.
    pathFileConserve = data->urls().first().toLocalFile();
    if (pathFileConserve.isEmpty()) {
        choosingFile = false;
        return;
    }
    ConservaFileDialog *dialog = openConserveDialog(pathFileConserve, nullptr);
    // "Vedi Dettagli" selects the file in the list, as for "Conserva".
    connect(dialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
    event->acceptProposedAction();
    showForeground(dialog);
}

void CoreMain::resetWinConserve()
{
    if (winConserve) {
        disconnect(winConserve, &ConservaFileDialog::closewindow, this, nullptr);
        disconnect(winConserve, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
        winConserve = nullptr;
    }
    pathFileConserve.clear();
    choosingFile = false;
    refreshListFile();
    syncCategorie();
}

void CoreMain::onSelectFile(QString path)
{
    showListFile();
    // This rebuilds the list and starts a synchronisation, whose end rebuilds
    // the list once more (losing the selection): the file is selected now,
    // and again once the list has settled.
    resetWinConserve();
    selectListFile(path);

    auto watchers = std::make_shared<std::array<QMetaObject::Connection, 2>>();
    const auto settled = [this, path, watchers](bool synchronised) {
        for (const QMetaObject::Connection &watcher : *watchers)
            disconnect(watcher);
        if (synchronised)
            selectListFile(path);
    };
    // Queued: they run after the window's own handler of the same reply has
    // rebuilt the list, whatever the order of the subscriptions.
    (*watchers)[0] = connect(conn, &KVWConn::commandSuccessful, this, [settled] { settled(true); },
                             Qt::QueuedConnection);
    (*watchers)[1] = connect(conn, &KVWConn::commandFailure, this, [settled] { settled(false); },
                             Qt::QueuedConnection);
}

void CoreMain::selectListFile(const QString &path)
{
    QAbstractItemModel *shown = ui->tbwFile->model();
    if (!shown)
        return;
    auto *proxy = qobject_cast<QAbstractProxyModel *>(shown);
    QAbstractItemModel *source = proxy ? proxy->sourceModel() : shown;
    auto *rows = qobject_cast<QSqlQueryModel *>(source);
    if (!rows)
        return;
    QModelIndex found;
    for (int row = 0; row < rows->rowCount(); ++row) {
        // The stored path (column 1 of the list query), not the name shown.
        if (rows->record(row).value(1).toString() == path) {
            found = rows->index(row, 1);
            break;
        }
    }
    if (!found.isValid())
        return;
    if (proxy)
        found = proxy->mapFromSource(found);
    ui->tbwFile->selectRow(found.row());
    if (!detailsShown)
        showHideDetail();
    ui->tbwFile->scrollTo(found, QAbstractItemView::PositionAtTop);
}

void CoreMain::onSostituisciClick()
{
    const QString previousHash = selectedFileData(FileListQuery::Hash);
    if (previousHash.isEmpty())
        return;
    // The same content may be preserved in several classes: the copy replaced
    // is the one of the selected row.
    const int classId = selectedFileData(FileListQuery::ClassId).toInt();
    const QString path = Prompts::openFileName(this, tr("Seleziona un file"), QDir::homePath());
    if (path.isEmpty())
        return;
    openRectifyDialog(path, previousHash, classId)->show();
}

ConservaFileDialog *CoreMain::openRectifyDialog(const QString &path, const QString &previousHash, int classId)
{
    auto *dialog = new ConservaFileDialog(path, jar, idBucket, nameBucket, previousHash, true, nullptr, classId);
    winConserve = dialog;
    dialog->setModal(true);
    connect(dialog, &ConservaFileDialog::closewindow, this, &CoreMain::onSostituzioneCompleted);
    connect(dialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

void CoreMain::onSostituzioneCompleted()
{
    if (winConserve) {
        disconnect(winConserve, &ConservaFileDialog::closewindow, this, nullptr);
        disconnect(winConserve, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
        winConserve = nullptr;
    }
    refreshListFile();
}
