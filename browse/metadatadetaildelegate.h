// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef METADATADETAILDELEGATE_H
#define METADATADETAILDELEGATE_H

#include <QSqlQueryModel>
#include <QString>

// The model of the details of the selected file (a query model): key and value
// rows. A value that contains the current search text gets a yellow background.
class MetaDataDetailDelegate : public QSqlQueryModel
{
    Q_OBJECT
public:
    explicit MetaDataDetailDelegate(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    QString searchText() const { return m_search; }
    void setSearchText(const QString &text) { m_search = text; }

private:
    QString m_search;
};

#endif // METADATADETAILDELEGATE_H
