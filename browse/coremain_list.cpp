// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The documents page of the main window: the preserved-file list of the
// current profile, its word search, sorting, and the details of the selected
// file.

#include "browse/coremain.h"

#include "browse/dateformatdelegate.h"
#include "browse/emptylistnote.h"
#include "browse/filelistproxy.h"
#include "browse/filelistquery.h"
#include "browse/htmlitemdelegate.h"
#include "browse/listfiledelegate.h"
#include "browse/metadatadetaildelegate.h"
#include "browse/searchindex.h"
#include "ui_coremain.h"

#include <QEvent>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QSortFilterProxyModel>
#include <QSqlQuery>

#include <functional>

namespace {

// Uses the catalogue for one group of statements. When another user already
// holds the shared connection open (a synchronisation streaming its reply
// inside a transaction), the statements join it instead of reopening the
// connection, which would lose that transaction.
class CatalogueUse
{
public:
    explicit CatalogueUse(Database &database)
        : m_database(database)
    {
        const QString name = QString::fromLatin1(Database::connectionName());
        m_borrowed = QSqlDatabase::contains(name) && QSqlDatabase::database(name, false).isOpen();
        if (m_borrowed)
            m_database.db = QSqlDatabase::database(name, false);
        else
            m_database.openDB();
    }
    ~CatalogueUse() { close(); }
    void close()
    {
        if (!m_borrowed && !m_closed)
            m_database.closeDB();
        m_closed = true;
    }
    QSqlDatabase &db() { return m_database.db; }

private:
    Database &m_database;
    bool m_borrowed = false;
    bool m_closed = false;
};

// Calls `react` whenever the watched widget has been resized.
class ResizeWatcher : public QObject
{
public:
    ResizeWatcher(QObject *parent, std::function<void()> react)
        : QObject(parent)
        , m_react(std::move(react))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            m_react();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_react;
};

void fetchAll(QSqlQueryModel *model)
{
    while (model->canFetchMore())
        model->fetchMore();
}

} // namespace

void CoreMain::wireList()
{
    connect(ui->leSearch, &QLineEdit::textChanged, this, &CoreMain::onFilterList);
    connect(ui->tbwFile->horizontalHeader(), &QHeaderView::sectionClicked, this, &CoreMain::onSortByColumn);
    connect(ui->btmHideDetail, &QAbstractButton::clicked, this, &CoreMain::onClickHideDetail);

    // The window's own resize comes before its layout has given the table its
    // new width: the column widths follow the table's resize instead.
    // Columns 1 to 5 share the width equally; none takes up the rest.
    ui->tbwFile->horizontalHeader()->setStretchLastSection(false);
    // The header shows by which column, and which way, the list is sorted;
    // a selected row (which spans every column) does not turn it bold.
    ui->tbwFile->horizontalHeader()->setSortIndicatorShown(true);
    ui->tbwFile->horizontalHeader()->setHighlightSections(false);
    ui->tbwFile->installEventFilter(new ResizeWatcher(this, [this] { setFileColumnWidths(); }));

    // One rich-text delegate for the whole file table, for the window's life.
    htmlDelegate = new HTMLItemDelegate(this);
    ui->tbwFile->setItemDelegate(htmlDelegate);

    ui->tbwMetadati->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    // What an empty list or an empty details pane means, in words.
    noFilesNote = new EmptyListNote(ui->tbwFile, QStringLiteral("lblNoFiles"));
    noDetailsNote = new EmptyListNote(ui->tbwMetadati, QStringLiteral("lblNoDetails"));
    noDetailsNote->setText(tr("Seleziona un documento per vederne i dettagli"));
    updateListNotes();
}

void CoreMain::updateListNotes()
{
    const bool searching = listModel && !listModel->searchText().isEmpty();
    noFilesNote->setText(searching ? tr("Nessun documento corrisponde alla ricerca")
                                   : tr("Nessun documento conservato in questo profilo"));
    noFilesNote->setVisible(proxyModel && proxyModel->rowCount() == 0);
    noDetailsNote->setVisible(!detailModel || detailModel->rowCount() == 0);
}

void CoreMain::refreshListFile()
{
    CatalogueUse catalogue(database);
    SearchIndex::ensure(catalogue.db());

    // New models first, then the table moves over, then the old ones go.
    auto *model = new ListFileDelegate(this);
    {
        QSqlQuery query = FileListQuery::list(catalogue.db(), pathPattern, idBucket);
        query.exec();
        model->setQuery(std::move(query));
    }
    // Every row is read before the proxy and the table see the model, so they
    // take the whole list at once instead of growing with each batch.
    fetchAll(model);
    static const char *const headers[] = {"Hash", "File", "Computer name", "Percorso", "Classi",
                                          "Conservato il", "Token", "IdFolder", "Hash4k"};
    for (int column = 0; column < int(std::size(headers)); ++column)
        model->setHeaderData(column, Qt::Horizontal, tr(headers[column]));
    ui->tbwFile->horizontalHeader()->show();

    auto *proxy = new FileListProxy(this);
    proxy->setSourceModel(model);

    replaceFileModels(model, proxy);
    connect(ui->tbwFile->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CoreMain::onSelectedFile);

    setupFileColumns();
    // The statement gives the rows newest first.
    ui->tbwFile->horizontalHeader()->setSortIndicator(FileListQuery::Preserved, Qt::DescendingOrder);
    ui->tbwFile->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->tbwFile->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tbwFile->setEditTriggers(QAbstractItemView::NoEditTriggers);

    if (!dateDelegate)
        dateDelegate = new DateFormatDelegate(this);
    ui->tbwFile->setItemDelegateForColumn(FileListQuery::Preserved, dateDelegate);

    // Nothing is selected in the new list: no details, no file buttons.
    auto *details = new MetaDataDetailDelegate(this);
    ui->tbwMetadati->setModel(details);
    delete detailModel;
    detailModel = details;
    ui->hwBottoniera->hide();
    updateListNotes();
}

void CoreMain::replaceFileModels(ListFileDelegate *model, QSortFilterProxyModel *proxy)
{
    // The table moves over first, then the previous models go.
    QItemSelectionModel *oldSelection = ui->tbwFile->selectionModel();
    ui->tbwFile->setModel(proxy);
    delete oldSelection;
    delete proxyModel;
    delete listModel;
    listModel = model;
    proxyModel = proxy;
}

void CoreMain::discardFileList()
{
    replaceFileModels(nullptr, nullptr);
    if (detailModel) {
        detailModel->clear();
        detailModel->setSearchText(QString());
    }
    {
        const QSignalBlocker quiet(ui->leSearch);
        ui->leSearch->clear();
    }
    ui->hwBottoniera->hide();
    updateListNotes();
}

void CoreMain::setupFileColumns()
{
    for (int column = 0; column < listModel->columnCount(); ++column)
        ui->tbwFile->setColumnHidden(column, column == FileListQuery::Hash || column >= FileListQuery::Token);
    setFileColumnWidths();
}

void CoreMain::onFilterList(QString text)
{
    if (!listModel)
        refreshListFile();

    {
        CatalogueUse catalogue(database);
        SearchIndex::ensure(catalogue.db());
        QSqlQuery query = FileListQuery::list(catalogue.db(), pathPattern, idBucket, text);
        query.exec();
        // The proxy lets go of the model while it reads every row, then takes
        // the whole result at once.
        proxyModel->setSourceModel(nullptr);
        listModel->setQuery(std::move(query));
        listModel->setSearchText(text);
        fetchAll(listModel);
        proxyModel->setSourceModel(listModel);
        connect(ui->tbwFile->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &CoreMain::onSelectedFile, Qt::UniqueConnection);
        setupFileColumns();

        detailModel->clear();
        detailModel->setSearchText(text);
        ui->hwBottoniera->hide();
    }

    // Newest first, then the first row is selected (and its details read).
    proxyModel->setFilterKeyColumn(-1);
    ui->tbwFile->sortByColumn(FileListQuery::Preserved, Qt::DescendingOrder);
    ui->tbwFile->selectRow(0);
    detailsShown = !detailsShown;
    showHideDetail();
    updateListNotes();
}

void CoreMain::onSortByColumn(int column)
{
    // The header has already moved its indicator before telling of the click:
    // a new column ascending, the same column again the other way round.
    ui->tbwFile->sortByColumn(column, ui->tbwFile->horizontalHeader()->sortIndicatorOrder());
}

void CoreMain::onSelectedFile(QItemSelection selected, QItemSelection)
{
    const QModelIndexList indexes = selected.indexes();
    if (indexes.isEmpty() || !detailModel || !proxyModel) {
        if (detailModel)
            detailModel->clear();
        ui->hwBottoniera->hide();
        updateListNotes();
        return;
    }
    ui->hwBottoniera->show();
    const QString hash = proxyModel->data(indexes.first().siblingAtColumn(FileListQuery::Hash)).toString();

    CatalogueUse catalogue(database);
    QSqlQuery query = FileListQuery::details(catalogue.db(), hash);
    query.exec();
    detailModel->setQuery(std::move(query));
    int column = 0;
    for (const char *header : {"ID", "Key", "Value", "Hash"})
        detailModel->setHeaderData(column++, Qt::Horizontal, tr(header));
    fetchAll(detailModel);

    ui->tbwMetadati->setModel(detailModel);
    ui->tbwMetadati->hideColumn(0);
    ui->tbwMetadati->hideColumn(3);
    // The names take a third of the pane; the values the rest of its visible
    // width, with or without a vertical scrollbar, so the pane never scrolls
    // sideways. Long values wrap.
    ui->tbwMetadati->setColumnWidth(1, ui->tbwMetadati->width() / 3);
    ui->tbwMetadati->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    updateListNotes();
}

void CoreMain::showHideDetail()
{
    if (detailsShown) {
        ui->tbwMetadati->hide();
        detailsShown = false;
        ui->btmHideDetail->setText(tr("Mostra Dettagli"));
    } else {
        ui->tbwMetadati->show();
        detailsShown = true;
        ui->btmHideDetail->setText(tr("Chiudi Dettagli"));
    }
}

void CoreMain::onClickHideDetail()
{
    showHideDetail();
}

QString CoreMain::selectedFileData(int column) const
{
    if (!proxyModel || !listModel || !ui->tbwFile->selectionModel())
        return QString();
    const QModelIndexList indexes = ui->tbwFile->selectionModel()->selectedIndexes();
    if (indexes.isEmpty())
        return QString();
    const QModelIndex source = proxyModel->mapToSource(indexes.first().siblingAtColumn(column));
    if (!source.isValid())
        return QString();
    return listModel->plainText(source);
}
