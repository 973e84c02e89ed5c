// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/conservafiledialog.h"

#include "admin/categorie.h"
#include "admin/metadaticategories.h"
#include "app/constants.h"
#include "app/prompts.h"
#include "conserve/calendarwidget.h"
#include "conserve/conserverequest.h"
#include "conserve/detaildialog.h"
#include "conserve/dialoguploadfile.h"
#include "conserve/fingerprint.h"
#include "service/kvwconn.h"
#include "ui_conservafiledialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QHostInfo>
#include <QHttpMultiPart>
#include <QNetworkReply>
#include <QLabel>
#include <QLineEdit>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTabBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// `value` as an SQL string literal.
QString literal(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// A LIKE condition matching values that contain `text`; the user's own "%",
// "_" and "\" match themselves.
QString containsLike(const QString &text)
{
    QString pattern;
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    return QStringLiteral(" LIKE ") + literal(QLatin1Char('%') + pattern + QLatin1Char('%'))
           + QStringLiteral(" ESCAPE '\\'");
}

// Condition on "metadati_values" keeping the values of the indexes of one
// class (bound after it): index ids belong to one class each.
const char kClassValues[] = "idmetadata IN (SELECT idmetadato FROM metadati WHERE idfolder = ?)";

QString tooltipHtml(const QString &tooltip)
{
    return QStringLiteral("<span style=\"color: #ffffff; background-color: #2a82da; border: 1px solid white; "
                          "font-weight: bold; font-size:13px; \">")
           + tooltip + QStringLiteral("</span>");
}

} // namespace

ConservaFileDialog::ConservaFileDialog(QString path, QNetworkCookieJar *jar, QString profileId, QString profileName,
                                       QString previousHash, bool rectification, QWidget *parent,
                                       int previousClassId)
    : QDialog(parent)
    , ui(new Ui::ConservaFileDialog)
    , m_path(QDir::toNativeSeparators(path))
    , m_profileId(std::move(profileId))
    , m_profileName(std::move(profileName))
    , m_previousHash(std::move(previousHash))
    , m_rectification(rectification)
    , m_jar(jar)
    , m_loading(QStringLiteral(":/images/loading.gif"))
{
    ui->setupUi(this);
    // The pages are switched by the code only.
    ui->tabUpload->tabBar()->hide();

    m_conn = std::make_unique<KVWConn>(jar, false);
    ui->lblLoading->setMovie(&m_loading);
    ui->lblLoading_2->setMovie(&m_loading);
    ui->lblLoading->hide();
    ui->lblLoading_2->hide();
    ui->lblDescMetadati->show();
    ui->lblTitleSuccess->setText(QString());
    ui->lblTitleFailure->setText(QString());
    setFixedSize(816, 538);

    m_classModel = new QSqlQueryModel(this);
    m_groupModel = new QSqlQueryModel(this);
    for (QTableView *view : {ui->twListCateg, ui->tbwListGroup}) {
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->hide();
        view->horizontalHeader()->setStretchLastSection(true);
        view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    ui->tbwListGroup->setModel(m_groupModel);
    ui->twListCateg->setModel(m_classModel);
    connect(ui->tbwListGroup->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConservaFileDialog::onSelectedGroup);

    if (!m_rectification) {
        setWindowTitle(tr("Conservazione del file ") + QFileInfo(m_path).fileName() + QStringLiteral(" (")
                       + m_profileName + QStringLiteral(")"));
        setPage(PageClass);
    } else {
        // The same content may be preserved in several classes: the copy
        // replaced is the one the user chose.
        m_classId = previousClassId >= 0 ? previousClassId
                                         : getCategoriaInfo(m_previousHash, QStringLiteral("idfolder")).toInt();
        const QString oldPath = getFileInfo(m_previousHash, QStringLiteral("fullpath"), m_classId);
        setWindowTitle(tr("Rettifica del file ") + QFileInfo(oldPath).fileName() + tr(" con ")
                       + QFileInfo(m_path).fileName());
        setPage(PageUpload);
    }

    connect(m_conn.get(), &KVWConn::commandFailure, this, &ConservaFileDialog::onCommandFailure);
    connect(m_conn.get(), &KVWConn::syncCategorieOK, this, &ConservaFileDialog::onSyncCategorieOK);
    connect(ui->btmOpenCateg, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickOpenCategories);
    connect(ui->btmStartUpload, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickStartUpload);
    connect(ui->btmIndietroFailure, &QAbstractButton::clicked, this,
            &ConservaFileDialog::onClickIndietroToInsertMetadata);
    connect(ui->btmConserva, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickConserva);
    connect(ui->btmVisionaFile2, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickVisionaFile);
    connect(ui->btmVediDettagli, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickShowDetails);
    for (QPushButton *close : {ui->btmClose1, ui->btmClose3, ui->btmClose4, ui->btmClose5})
        connect(close, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickCloseWindow);
    connect(ui->btmShowDetailError, &QAbstractButton::clicked, this, &ConservaFileDialog::onClickShowDetailError);
    connect(ui->leSearch, &QLineEdit::textChanged, this, &ConservaFileDialog::onFilterList);

    if (m_rectification) {
        // The upload starts as soon as the opener has wired and shown the
        // dialog, so that a cancellation during the fingerprint reaches it.
        QTimer::singleShot(0, this, &ConservaFileDialog::onClickStartUpload);
    } else {
        m_loading.start();
        ui->lblLoading_2->show();
        ui->btmOpenCateg->setEnabled(false);
        ui->btmStartUpload->setEnabled(false);
        m_conn->syncCategorieFromServer();
    }
}

ConservaFileDialog::~ConservaFileDialog()
{
    delete m_categorie;
    // Nothing the connection still reports reaches this dialog any more. The
    // connection itself goes once the network layer has finished delivering
    // what it queued for its replies; that ends whatever it had in flight.
    if (m_conn) {
        disconnect(m_conn.get(), nullptr, this, nullptr);
        if (QNetworkReply *reply = m_conn->currentReply())
            reply->abort();
        m_conn.release()->deleteLater();
    }
}

DialogUploadFile *ConservaFileDialog::uploadWindow() const
{
    return m_uploadWindow;
}

int ConservaFileDialog::currentPage() const
{
    return ui->tabUpload->currentIndex();
}

void ConservaFileDialog::setPage(Page page)
{
    ui->tabUpload->setCurrentIndex(page);
}

void ConservaFileDialog::execute(const QString &sql, const QVariantList &values)
{
    m_database.openDB();
    {
        QSqlQuery query(m_database.db);
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        query.exec();
    }
    m_database.closeDB();
}

QString ConservaFileDialog::getHash(const QString &path)
{
    QPointer<DialogUploadFile> window = m_uploadWindow;
    return Fingerprint::getHash(path, [window](qint64 maximum, qint64 value) {
        if (window)
            window->setProgress(maximum, value);
    });
}

QString ConservaFileDialog::getHash4k(const QString &path)
{
    return Fingerprint::getHash4k(path);
}

QString ConservaFileDialog::getCategoriaInfo(const QString &hash, const QString &column)
{
    QString value;
    m_database.openDB();
    {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("SELECT folders.") + column
                      + QStringLiteral(" FROM folders INNER JOIN files ON files.folderid = folders.idfolder "
                                       "AND files.hash = ?"));
        query.addBindValue(hash);
        if (query.exec() && query.next())
            value = query.value(0).toString();
    }
    m_database.closeDB();
    return value;
}

QString ConservaFileDialog::getFileInfo(const QString &hash, const QString &column, int classId)
{
    QString value;
    m_database.openDB();
    {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("SELECT ") + column + QStringLiteral(" FROM files WHERE hash = ?")
                      + (classId >= 0 ? QStringLiteral(" AND folderid = ?") : QString()));
        query.addBindValue(hash);
        if (classId >= 0)
            query.addBindValue(classId);
        if (query.exec() && query.next())
            value = query.value(0).toString();
    }
    m_database.closeDB();
    return value;
}

// ---------------------------------------------------------------- class choice

void ConservaFileDialog::setClassQuery(const QString &sql)
{
    m_database.openDB();
    m_classModel->setQuery(sql, m_database.db);
    while (m_classModel->canFetchMore())
        m_classModel->fetchMore();
    m_database.closeDB();
    m_classModel->setHeaderData(0, Qt::Horizontal, tr("ID"));
    m_classModel->setHeaderData(1, Qt::Horizontal, tr("Seleziona una classe"));
    ui->twListCateg->hideColumn(0);
}

void ConservaFileDialog::onSyncCategorieOK()
{
    m_loading.stop();
    ui->lblLoading_2->hide();
    m_database.openDB();
    m_groupModel->setQuery(QStringLiteral("SELECT * FROM (SELECT 'Tutti' as 'groups') UNION ALL SELECT * FROM "
                                          "(SELECT groups FROM folders WHERE idbuckets = ")
                               + literal(m_profileId) + QStringLiteral(" GROUP BY groups ORDER BY groups ASC)"),
                           m_database.db);
    while (m_groupModel->canFetchMore())
        m_groupModel->fetchMore();
    m_database.closeDB();
    m_groupModel->setHeaderData(0, Qt::Horizontal, tr("Filtra per gruppi"));
    ui->tbwListGroup->horizontalHeader()->show();

    setClassQuery(QStringLiteral("SELECT idfolder, name FROM folders WHERE idbuckets = ") + literal(m_profileId));

    ui->btmOpenCateg->setEnabled(true);
    ui->btmStartUpload->setEnabled(true);
}

QString ConservaFileDialog::selectedGroup() const
{
    const QModelIndexList rows = ui->tbwListGroup->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return QString();
    // Row 0 is "Tutti": every group of the profile.
    if (rows.first().row() == 0)
        return QStringLiteral("");
    return m_groupModel->data(m_groupModel->index(rows.first().row(), 0)).toString();
}

void ConservaFileDialog::onSelectedGroup(QItemSelection selected, QItemSelection)
{
    if (selected.indexes().isEmpty())
        return;
    const int row = selected.indexes().first().row();
    ui->leSearch->blockSignals(true);
    ui->leSearch->clear();
    ui->leSearch->blockSignals(false);
    QString sql = QStringLiteral("SELECT idfolder, name FROM folders WHERE idbuckets = ") + literal(m_profileId);
    if (row != 0)
        sql += QStringLiteral(" AND groups") + containsLike(m_groupModel->data(m_groupModel->index(row, 0)).toString());
    setClassQuery(sql);
}

void ConservaFileDialog::onFilterList(QString text)
{
    const QModelIndexList rows = ui->tbwListGroup->selectionModel()->selectedRows();
    QString sql;
    if (rows.isEmpty()) {
        // No group chosen yet: the classes of every profile in the catalogue.
        sql = QStringLiteral("SELECT idfolder, name FROM folders WHERE name") + containsLike(text);
    } else {
        sql = QStringLiteral("SELECT idfolder, name FROM folders WHERE idbuckets = ") + literal(m_profileId);
        if (rows.first().row() != 0)
            sql += QStringLiteral(" AND groups") + containsLike(selectedGroup());
        sql += QStringLiteral(" AND name") + containsLike(text);
    }
    setClassQuery(sql);
}

void ConservaFileDialog::onClickOpenCategories()
{
    delete m_categorie;
    m_categorie = new Categorie(m_jar, m_profileId, m_profileName, nullptr);
    // However the classes window ends (accepted, closed by its frame, or
    // closed by a failed synchronisation) this dialog comes back with its
    // lists read again: the user must never be left without it.
    connect(m_categorie.data(), &QDialog::finished, this, &ConservaFileDialog::onSyncCategorieOK);
    connect(m_categorie.data(), &QDialog::finished, this, &QWidget::show);
    hide();
    m_categorie->show();
    m_categorie->syncCategorie();
}

// ---------------------------------------------------------------- upload

void ConservaFileDialog::disconnectUpload()
{
    disconnect(m_conn.get(), &KVWConn::commandSuccessful, this, &ConservaFileDialog::onUploadFileOK);
    disconnect(m_conn.get(), &KVWConn::retry, this, &ConservaFileDialog::onRetryUpload);
}

void ConservaFileDialog::disconnectConserve()
{
    disconnect(m_conn.get(), &KVWConn::commandSuccessful, this, &ConservaFileDialog::onConservaFileOK);
    disconnect(m_conn.get(), &KVWConn::retry, this, &ConservaFileDialog::conserva);
}

void ConservaFileDialog::onClickStartUpload()
{
    if (m_cancelled)
        return;
    ui->btmStartUpload->setEnabled(false);
    if (!m_rectification) {
        const QModelIndexList rows = ui->twListCateg->selectionModel()
                                         ? ui->twListCateg->selectionModel()->selectedRows()
                                         : QModelIndexList();
        if (rows.isEmpty()) {
            Prompts::critical(this, tr("Campo obbligatorio"), tr("Devi selezionare una classe"));
            ui->btmStartUpload->setEnabled(true);
            return;
        }
        m_classId = m_classModel->data(m_classModel->index(rows.first().row(), 0)).toInt();
    }

    disconnectUpload();
    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &ConservaFileDialog::onUploadFileOK);
    connect(m_conn.get(), &KVWConn::retry, this, &ConservaFileDialog::onRetryUpload);

    setPage(PageUpload);

    delete m_uploadWindow;
    m_uploadWindow = new DialogUploadFile(m_conn.get(), m_path, this);
    m_uploadWindow->setModal(true);
    connect(m_uploadWindow.data(), &DialogUploadFile::cancelUpload, this, &ConservaFileDialog::onCancelUpload);
    m_uploadWindow->setMessage(tr("Calcolo impronta in corso ..."));
    m_uploadWindow->show();
    // A rectification stays in sight behind its upload window; the class
    // choice has nothing more to show.
    if (!m_rectification)
        hide();
    QPointer<ConservaFileDialog> self(this);
    QCoreApplication::processEvents();
    if (!self || m_cancelled)
        return;
    onStartUpload();
}

void ConservaFileDialog::onStartUpload()
{
    if (m_cancelled)
        return;
    ui->btmConserva->setEnabled(false);

    // A repeated attempt removes the row that the previous one inserted.
    execute(QStringLiteral("DELETE FROM files WHERE hash = ? AND folderid = ? AND (token = '' OR token IS NULL)"),
            {m_hash, m_classId});

    QPointer<ConservaFileDialog> self(this);
    const QString hash = getHash(m_path);
    // The event loop ran while the file was read: the user may have cancelled.
    if (!self || m_cancelled)
        return;
    m_hash = hash;

    auto file = std::make_unique<QFile>(QFileInfo(m_path).absoluteFilePath());
    if (m_hash.isEmpty() || !file->open(QIODevice::ReadOnly)) {
        disconnectUpload();
        if (m_uploadWindow)
            m_uploadWindow->close();
        Prompts::critical(this, tr("Errore"), tr("Errore durante il calcolo dell'impronta si prega di riprovare"));
        m_closeWithoutAsking = true;
        close();
        return;
    }

    const QDateTime lastModified = QFileInfo(m_path).lastModified();
    execute(QStringLiteral("INSERT INTO files (hash, hash4k, last_modified, fullpath, token, folderid, username) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?)"),
            {m_hash, getHash4k(m_path), lastModified, m_path, QString(QLatin1String("")), m_classId,
             m_conn->sessionUsername()});

    m_requestBody = ConserveRequest::uploadXml(m_rectification, m_classId, lastModified, m_hash, m_previousHash);
    QHttpMultiPart *body = ConserveRequest::multipart(m_requestBody, m_path, file.release());

    if (m_uploadWindow) {
        m_uploadWindow->setMessage(tr("Upload file in corso ..."));
        m_uploadWindow->resetProgress();
    }
    m_conn->postSession(body);
}

void ConservaFileDialog::onRetryUpload()
{
    disconnectUpload();
    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &ConservaFileDialog::onUploadFileOK);
    connect(m_conn.get(), &KVWConn::retry, this, &ConservaFileDialog::onRetryUpload);
    onStartUpload();
}

void ConservaFileDialog::onCancelUpload()
{
    // The dialog is going away: whatever its connection still reports (the
    // abandoned request ends as an error) is no news for the user.
    m_cancelled = true;
    disconnect(m_conn.get(), nullptr, this, nullptr);
    m_closeWithoutAsking = true;
    close();
}

// ---------------------------------------------------------------- index form

void ConservaFileDialog::onUploadFileOK(QDomElement body, QString)
{
    disconnectUpload();

    // The form is built from scratch (a dialog only gets here once, but a
    // stale form must never mix with a new one).
    QWidget *host = ui->scrollAreaWidgetContents;
    delete host->layout();
    qDeleteAll(host->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly));
    m_valueWidgets.clear();
    m_indexLabels.clear();
    m_errorTexts.clear();
    m_tooltips.clear();

    auto *rows = new QVBoxLayout(host);
    rows->setAlignment(Qt::AlignTop);

    const QDomNodeList indexes = body.elementsByTagName(QStringLiteral("metadato"));
    for (int r = 0; r < indexes.count(); ++r) {
        const QDomElement index = indexes.at(r).toElement();
        const QString id = index.attribute(QStringLiteral("idmetadato"));
        const QString tooltip = index.attribute(QStringLiteral("tooltip"));
        const bool required = index.attribute(QStringLiteral("required")) == QLatin1String("1");
        const QString type = index.attribute(QStringLiteral("type"));
        m_tooltips.append(tooltip);

        auto *row = new QHBoxLayout();
        row->setSizeConstraint(QLayout::SetMinimumSize);

        const QString name = index.attribute(QStringLiteral("name"));
        auto *label = new QLabel(required ? QStringLiteral("* ") + name : name, host);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setFixedWidth(160);
        m_indexLabels.insert(id, label);
        row->addWidget(label);

        if (type == QLatin1String("1") || type == QLatin1String("2")) {
            auto *combo = new QComboBox(host);
            combo->setEditable(true);
            if (!tooltip.isEmpty())
                combo->setToolTip(tooltipHtml(tooltip));
            combo->addItem(index.text());
            combo->setProperty("comborow", r);
            combo->setProperty("keyrow", id);
            combo->installEventFilter(this);
            combo->setInputMethodHints(type == QLatin1String("1") ? Qt::ImhNone : Qt::ImhFormattedNumbersOnly);
            combo->setSizePolicy(QSizePolicy::Expanding, combo->sizePolicy().verticalPolicy());
            m_valueWidgets.append(combo);
            row->addWidget(combo);
        } else if (type == QLatin1String("3")) {
            auto *date = new CalendarWidget(host);
            date->setToolTip(tooltipHtml(tooltip));
            QComboBox *combo = date->comboBox();
            combo->setProperty("comborow", r);
            combo->setProperty("keyrow", id);
            combo->setMinimumWidth(required ? 222 : 195);
            combo->installEventFilter(this);
            combo->addItem(index.text());
            combo->setCurrentIndex(0);
            date->setClearButtonVisible(!required);
            m_valueWidgets.append(date);
            row->addWidget(date);
            row->addStretch();
        } else {
            // An index of a kind this client does not edit: its name only.
            row->addStretch();
        }
        rows->addLayout(row);
    }

    ui->btmConserva->setEnabled(true);
    ui->btmVisionaFile2->setEnabled(true);
    ui->btmClose3->setEnabled(true);
    setPage(PageIndexes);
    if (m_uploadWindow) {
        m_uploadWindow->close();
        m_uploadWindow->deleteLater();
    }
    show();
}

bool ConservaFileDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && watched->property("comborow").isValid()) {
        const int row = watched->property("comborow").toInt();
        const QString key = watched->property("keyrow").toString();
        QString html;
        if (m_errorTexts.contains(key)) {
            html += QStringLiteral("<table cellspacing=\"10\" width=\"100%\" bgcolor=\"#c00000\"><tr><td width=\"100%\">"
                                   "<font color=\"white\"><h2>Errore</h2><b>")
                    + m_errorTexts.value(key).toHtmlEscaped()
                    + QStringLiteral("</b></font></td></tr></table><br/>");
        }
        const QString tooltip = m_tooltips.value(row);
        if (!tooltip.isEmpty()) {
            html += QStringLiteral("<table cellspacing=\"10\" width=\"100%\" bgcolor=\"#0087FA\"><tr><td width=\"100%\">"
                                   "<font color=\"white\"><h2>Suggerimenti</h2>")
                    + tooltip + QStringLiteral("</font></td></tr></table>");
        }
        if (html.isEmpty())
            ui->tbHelp->clear();
        else
            ui->tbHelp->setHtml(html);
    }
    return QDialog::eventFilter(watched, event);
}

void ConservaFileDialog::onClickConserva()
{
    const QString title = m_rectification ? tr("Rettifica file") : tr("Conservazione file");
    if (Prompts::confirm(this, title, tr("Sei veramente sicuro di voler conservare il documento selezionato?")))
        conserva();
}

void ConservaFileDialog::conserva()
{
    ui->lblDescMetadati->show();
    ui->tbHelp->clear();
    for (QLabel *label : std::as_const(m_indexLabels))
        label->setStyleSheet(QStringLiteral("color:black;"));

    // Ordered by index id compared as text, as the service expects them.
    QMap<QString, QString> values;
    for (QWidget *widget : std::as_const(m_valueWidgets)) {
        if (auto *date = qobject_cast<CalendarWidget *>(widget))
            values.insert(date->comboBox()->property("keyrow").toString(), date->lineEdit()->text());
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            values.insert(combo->property("keyrow").toString(), combo->currentText());
    }

    m_requestBody = ConserveRequest::conserveXml(m_rectification, m_hash, m_previousHash, m_classId,
                                                 QHostInfo::localHostName(), values);

    m_database.openDB();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)"));
        query.addBindValue(it.key().toInt());
        query.addBindValue(it.value());
        query.addBindValue(m_hash);
        query.exec();
    }
    m_database.closeDB();

    disconnectConserve();
    connect(m_conn.get(), &KVWConn::commandSuccessful, this, &ConservaFileDialog::onConservaFileOK);
    connect(m_conn.get(), &KVWConn::retry, this, &ConservaFileDialog::conserva);

    ui->lblLoading->show();
    m_loading.start();
    ui->btmConserva->setEnabled(false);
    ui->btmVisionaFile2->setEnabled(false);
    ui->btmClose3->setEnabled(true);

    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("text/xml;charset=UTF-8"));
    m_conn->postSession(&m_requestBody);
}

void ConservaFileDialog::onClickVisionaFile()
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_path).absoluteFilePath()))) {
        Prompts::critical(this, tr("Apertura file"),
                          tr("Non è stato trovato nessun programma in grado di aprire il file selezionato"));
    }
}

// ---------------------------------------------------------------- outcome

void ConservaFileDialog::onConservaFileOK(QDomElement body, QString)
{
    const QString token = body.elementsByTagName(QStringLiteral("token")).item(0).toElement().text();

    // Only this class's row: the same content may also be preserved elsewhere.
    execute(QStringLiteral("UPDATE files SET token = ? WHERE hash = ? AND folderid = ?"), {token, m_hash, m_classId});

    if (m_rectification && m_previousHash != m_hash) {
        // The replaced version leaves the catalogue; the service keeps its
        // history. Its copies in other classes, and their values, stay.
        m_database.openDB();
        {
            QSqlQuery query(m_database.db);
            query.prepare(QStringLiteral("DELETE FROM metadati_values WHERE hash = ? AND ")
                          + QLatin1String(kClassValues));
            query.addBindValue(m_previousHash);
            query.addBindValue(m_classId);
            query.exec();
            query.prepare(QStringLiteral("DELETE FROM files WHERE hash = ? AND folderid = ?"));
            query.addBindValue(m_previousHash);
            query.addBindValue(m_classId);
            query.exec();
        }
        m_database.closeDB();
    }

    ui->lblTitleSuccess->setText(m_rectification ? tr("Documento sostituito correttamente")
                                                 : tr("Documento conservato correttamente"));
    setPage(PageSuccess);
    disconnectConserve();

    if (m_rectification) {
        emit sostituizioneCompleted();
    } else {
        // Rows of the same file left by attempts in other classes.
        execute(QStringLiteral("DELETE FROM files WHERE hash = ? and folderid != ? AND (token = '' OR token IS NULL)"),
                {m_hash, m_classId});
    }

    m_loading.stop();
    ui->lblLoading->hide();
    m_conn->syncCategorieFromServer();
}

void ConservaFileDialog::applyFailureMessage(const QString &message)
{
    if (message.isEmpty())
        return;
    m_failureDetail = message.toHtmlEscaped();
    m_failureDetail.replace(QLatin1String("\r\n"), QLatin1String("<br/>"));
    m_failureDetail.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    if (m_failureDetail.size() < 40) {
        ui->lblTitleFailure->setText(ui->lblTitleFailure->text() + QStringLiteral("<br/>") + m_failureDetail);
        ui->btmShowDetailError->hide();
    } else {
        // A long message after a short one is reachable again.
        ui->btmShowDetailError->show();
    }
}

void ConservaFileDialog::onCommandFailure(QString message, QString code)
{
    if (code == QLatin1String(CODE_ERROR_NETWORK))
        Prompts::critical(this, tr("Errore"), message);

    switch (currentPage()) {
    case PageClass:
        Prompts::critical(this, tr("Sincronizzazione classi"), message);
        m_closeWithoutAsking = true;
        close();
        break;
    case PageUpload:
        disconnectUpload();
        ui->lblTitleFailure->setText(tr("Upload del file non riuscito"));
        applyFailureMessage(message);
        ui->btmIndietroFailure->hide();
        if (m_uploadWindow)
            m_uploadWindow->close();
        setPage(PageFailure);
        show();
        break;
    case PageIndexes:
        ui->btmIndietroFailure->show();
        if (code == QLatin1String(CODE_VALIDATION_KO)) {
            m_errorTexts.clear();
            QDomDocument doc;
            doc.setContent(message);
            const QDomNodeList fields = doc.elementsByTagName(QStringLiteral("field"));
            for (int i = 0; i < fields.count(); ++i) {
                const QDomElement field = fields.at(i).toElement();
                const QString key = field.attribute(QStringLiteral("key"));
                m_errorTexts.insert(key, field.attribute(QStringLiteral("message")));
                if (QLabel *label = m_indexLabels.value(key))
                    label->setStyleSheet(QStringLiteral("color:red;"));
            }
            ui->tbHelp->clear();
            Prompts::critical(this, m_rectification ? tr("Rettifica file") : tr("Conservazione file"),
                              tr("La validazione degli indici non è riuscita"));
        } else {
            m_database.openDB();
            {
                QSqlQuery query(m_database.db);
                // The values of this attempt only: a copy of the same content
                // preserved in another class keeps its own.
                query.prepare(QStringLiteral("DELETE FROM metadati_values WHERE hash IN (SELECT hash FROM files WHERE "
                                             "hash = ? AND folderid = ? AND (token = '' OR token IS NULL)) AND ")
                              + QLatin1String(kClassValues));
                query.addBindValue(m_hash);
                query.addBindValue(m_classId);
                query.addBindValue(m_classId);
                query.exec();
                query.prepare(QStringLiteral("DELETE FROM files WHERE hash = ? AND (token = '' OR token IS NULL)"));
                query.addBindValue(m_hash);
                query.exec();
            }
            m_database.closeDB();
            setPage(PageFailure);
            ui->lblTitleFailure->setText(m_rectification ? tr("Rettifica del documento non riuscita")
                                                         : tr("Conservazione del documento non riuscita"));
            applyFailureMessage(message);
        }
        break;
    default:
        break;
    }

    m_loading.stop();
    ui->lblLoading->hide();
    ui->lblLoading_2->hide();
    ui->btmConserva->setEnabled(true);
    ui->btmVisionaFile2->setEnabled(true);
    ui->btmClose3->setEnabled(true);
    // Nothing of this dialog is touched after this point: it may be gone.
    QCoreApplication::processEvents();
}

void ConservaFileDialog::onClickIndietroToInsertMetadata()
{
    setPage(PageIndexes);
}

void ConservaFileDialog::onClickShowDetails()
{
    emit showDetails(m_path);
    close();
}

void ConservaFileDialog::onClickShowDetailError()
{
    auto *detail = new DetailDialog(m_failureDetail, tr("Dettaglio errore"), this);
    detail->setAttribute(Qt::WA_DeleteOnClose);
    detail->setModal(true);
    detail->show();
}

// ---------------------------------------------------------------- closing

void ConservaFileDialog::onClickCloseWindow()
{
    close();
}

void ConservaFileDialog::reject()
{
    if (m_acceptingClose) {
        QDialog::reject();
        return;
    }
    // Escape: the same question as "Annulla"; answered with Cancel, the
    // dialog and the values typed in it stay.
    onClickCloseWindow();
}

void ConservaFileDialog::closeEvent(QCloseEvent *event)
{
    emit closewindow();
    const int page = currentPage();
    if (!m_closeWithoutAsking && page != PageSuccess && page != PageFailure) {
        const QString text = m_rectification ? tr("Sei veramente sicuro di voler annullare la rettifica del file?")
                                             : tr("Sei veramente sicuro di voler annullare la conservazione del file?");
        if (!Prompts::confirm(this, windowTitle(), text)) {
            event->ignore();
            return;
        }
    }
    m_acceptingClose = true;
    QDialog::closeEvent(event);
    m_acceptingClose = false;
}
