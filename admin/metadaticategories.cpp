// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "admin/metadaticategories.h"

#include "admin/listmetadatadelegate.h"
#include "ui_metadaticategories.h"

#include <QApplication>

#include <QHeaderView>
#include <QPainter>
#include <QSqlRelation>
#include <QStyledItemDelegate>

namespace {
// Draws a cell's image in the middle of the cell rather than at its left edge,
// for the columns whose model asks for centred content.
class CentredImageDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QPixmap image = index.data(Qt::DecorationRole).value<QPixmap>();
        // Background, selection and focus as usual, without the image.
        opt.icon = QIcon();
        opt.features &= ~QStyleOptionViewItem::HasDecoration;
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        if (!image.isNull())
            painter->drawPixmap(QStyle::alignedRect(opt.direction, Qt::AlignCenter, image.size(), opt.rect), image);
    }
};
} // namespace

MetadatiCategories::MetadatiCategories(QNetworkCookieJar *jar, QWidget *parent, int idFolder,
                                       QString className)
    : QDialog(parent)
    , ui(std::make_unique<Ui::MetadatiCategories>())
    , m_idFolder(idFolder)
    , m_className(std::move(className))
    , m_loading(QStringLiteral(":/images/loading.gif"))
{
    Q_UNUSED(jar)
    ui->setupUi(this);
    ui->lblLoading->setMovie(&m_loading);
    ui->lblLoading->hide();
    m_loading.stop();

    setFixedSize(size());
    setWindowTitle(tr("Indici della classe ") + m_className);

    m_database.openDB();
    m_model = new ListMetadataDelegate(this, m_database.db);
    m_model->setTable(QStringLiteral("metadati"));
    m_model->setSort(ListMetadataDelegate::ColId, Qt::AscendingOrder);
    m_model->setFilter(QStringLiteral("idfolder=%1").arg(m_idFolder));
    m_model->setEditStrategy(QSqlTableModel::OnManualSubmit);
    m_model->setRelation(ListMetadataDelegate::ColTipo,
                         QSqlRelation(QStringLiteral("tipo_metadato"), QStringLiteral("id"),
                                      QStringLiteral("value")));
    m_model->setHeaderData(ListMetadataDelegate::ColId, Qt::Horizontal, tr("ID"));
    m_model->setHeaderData(ListMetadataDelegate::ColIdFolder, Qt::Horizontal, tr("ID Folder"));
    m_model->setHeaderData(ListMetadataDelegate::ColNome, Qt::Horizontal, tr("Nome classe"));
    m_model->setHeaderData(ListMetadataDelegate::ColTipo, Qt::Horizontal, tr("Tipo"));
    m_model->setHeaderData(ListMetadataDelegate::ColVisibile, Qt::Horizontal, tr("Visibile"));
    m_model->setHeaderData(ListMetadataDelegate::ColRequired, Qt::Horizontal, tr("Obbligatorio"));
    m_model->setHeaderData(ListMetadataDelegate::ColCustom, Qt::Horizontal, tr("Modificabile"));

    ui->twMetadati->setModel(m_model);
    m_model->select();
    // The catalogue is closed below: take every row now.
    while (m_model->canFetchMore())
        m_model->fetchMore();
    m_database.closeDB();

    ui->twMetadati->hideColumn(ListMetadataDelegate::ColId);
    ui->twMetadati->hideColumn(ListMetadataDelegate::ColIdFolder);
    ui->twMetadati->hideColumn(ListMetadataDelegate::ColCustom);
    ui->twMetadati->setColumnWidth(ListMetadataDelegate::ColNome, 350);
    ui->twMetadati->setColumnWidth(ListMetadataDelegate::ColTipo, 120);
    ui->twMetadati->setColumnWidth(ListMetadataDelegate::ColVisibile, 80);
    ui->twMetadati->setColumnWidth(ListMetadataDelegate::ColRequired, 90);
    ui->twMetadati->setItemDelegateForColumn(ListMetadataDelegate::ColRequired,
                                             new CentredImageDelegate(ui->twMetadati));
    ui->twMetadati->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->twMetadati->setSelectionBehavior(QAbstractItemView::SelectRows);

    ui->btmUpdate->hide();
    ui->btmAdd->hide();
    ui->btmDelete->hide();
    connect(ui->btmClose, &QPushButton::clicked, this, &MetadatiCategories::onClickClose);
}

MetadatiCategories::~MetadatiCategories() = default;

void MetadatiCategories::onClickClose()
{
    accept();
}

void MetadatiCategories::reject()
{
    accept();
}
