// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef LISTMETADATADELEGATE_H
#define LISTMETADATADELEGATE_H

#include <QPixmap>
#include <QSqlRelationalTableModel>

// Index definitions of one class (catalogue table "metadati"), with the type
// shown by name through "tipo_metadato". The "Visibile" and "Obbligatorio"
// columns show a check mark for 1 and nothing otherwise.
class ListMetadataDelegate : public QSqlRelationalTableModel
{
    Q_OBJECT
public:
    enum Column { ColId = 0, ColIdFolder, ColNome, ColTipo, ColVisibile, ColRequired, ColCustom };

    explicit ListMetadataDelegate(QObject *parent = nullptr, QSqlDatabase db = QSqlDatabase());

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QPixmap m_checkMark;
};

#endif // LISTMETADATADELEGATE_H
