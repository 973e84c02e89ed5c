// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "admin/categorie.h"

#include "admin/classlistmodel.h"
#include "admin/metadaticategories.h"
#include "app/prompts.h"
#include "service/kvwconn.h"
#include "ui_categorie.h"

#include <QCoreApplication>
#include <QItemSelectionModel>

Categorie::Categorie(QNetworkCookieJar *jar, QString profileId, QString profileName, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Categorie>())
    , m_profileId(std::move(profileId))
    , m_profileName(std::move(profileName))
    , m_jar(jar)
    , m_conn(std::make_unique<KVWConn>(jar))
    , m_loading(QStringLiteral(":/images/loading.gif"))
{
    ui->setupUi(this);
    setFixedSize(size());
    setWindowTitle(tr("Classi (") + m_profileName + QLatin1Char(')'));

    // The list stays empty until the first synchronisation has ended.
    m_model = new ClassListModel(this);
    m_model->setProfile(m_profileId);
    m_model->attachTo(ui->twCategorie);
    ui->btmMetadati->setEnabled(false);

    connect(ui->twCategorie, &QTableView::doubleClicked, this, &Categorie::onClickShowMetadata);
    connect(ui->twCategorie->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &Categorie::onSelectionChanged);
    // A reload (new filter, new synchronisation) drops the selection silently.
    connect(m_model, &QAbstractItemModel::modelReset, this,
            [this] { ui->btmMetadati->setEnabled(ui->twCategorie->selectionModel()->hasSelection()); });
    connect(ui->btmMetadati, &QPushButton::clicked, this, &Categorie::onClickShowMetadataCurrent);
    connect(ui->btmClose, &QPushButton::clicked, this, &Categorie::closeDialog);
    connect(ui->leSearch, &QLineEdit::textChanged, this, &Categorie::onFilterList);
}

Categorie::~Categorie()
{
    unsubscribe();
}

void Categorie::syncCategorie()
{
    ui->lblLoading->setMovie(&m_loading);
    ui->lblLoading->show();
    m_loading.start();

    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &Categorie::onSyncCategorieOK,
            Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::retry, this, &Categorie::retrySyncCategorie, Qt::UniqueConnection);
    connect(m_conn.get(), &KVWConn::commandFailure, this, &Categorie::onSyncCategorieKO,
            Qt::UniqueConnection);

    // Let the animation be drawn before the request goes out. The window may
    // be closed and deleted by its opener meanwhile.
    QPointer<Categorie> self(this);
    QCoreApplication::processEvents();
    if (!self)
        return;
    m_conn->syncCategorieFromServer();
}

void Categorie::retrySyncCategorie()
{
    m_conn->syncCategorieFromServer();
}

void Categorie::onSyncCategorieOK(const QDomElement &body, const QString &statusNumber)
{
    Q_UNUSED(body)
    Q_UNUSED(statusNumber)
    disconnect(m_conn.get(), &KVWConn::retry, this, &Categorie::retrySyncCategorie);
    m_model->reload();
    stopLoading();
}

void Categorie::onSyncCategorieKO(const QString &description, const QString &statusNumber)
{
    Q_UNUSED(statusNumber)
    unsubscribe();
    Prompts::critical(this, tr("Errore"), description);
    stopLoading();
    close();
}

void Categorie::unsubscribe()
{
    if (!m_conn)
        return;
    disconnect(m_conn.get(), &KVWConn::commandSuccessful, this, &Categorie::onSyncCategorieOK);
    disconnect(m_conn.get(), &KVWConn::retry, this, &Categorie::retrySyncCategorie);
    disconnect(m_conn.get(), &KVWConn::commandFailure, this, &Categorie::onSyncCategorieKO);
}

void Categorie::stopLoading()
{
    ui->lblLoading->hide();
    m_loading.stop();
}

void Categorie::onFilterList(const QString &text)
{
    m_model->setNameFilter(text);
}

void Categorie::onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    Q_UNUSED(deselected)
    ui->btmMetadati->setEnabled(!selected.isEmpty());
}

void Categorie::onClickShowMetadata(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    showMetadata(m_model->classIdAt(index.row()), m_model->classNameAt(index.row()));
}

void Categorie::onClickShowMetadataCurrent()
{
    const QModelIndex current = ui->twCategorie->currentIndex();
    if (!current.isValid())
        return;
    showMetadata(m_model->classIdAt(current.row()), m_model->classNameAt(current.row()));
}

void Categorie::showMetadata(int idFolder, const QString &className)
{
    // Only the newest index window is kept; an earlier one has been closed
    // already (it is modal) and would only linger as a hidden child.
    if (m_metadati)
        m_metadati->deleteLater();
    m_metadati = new MetadatiCategories(m_jar, this, idFolder, className);
    m_metadati->setModal(true);
    m_metadati->show();
}

void Categorie::closeDialog()
{
    accept();
}
