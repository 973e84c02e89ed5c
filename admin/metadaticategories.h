// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef METADATICATEGORIES_H
#define METADATICATEGORIES_H

#include "store/database.h"

#include <QDialog>
#include <QMovie>
#include <QString>
#include <memory>

class QNetworkCookieJar;
class ListMetadataDelegate;
namespace Ui {
class MetadatiCategories;
}

// Read-only view of the index definitions of one class, as held by the local
// catalogue: name, type, whether visible and whether mandatory.
class MetadatiCategories : public QDialog
{
    Q_OBJECT
public:
    // `jar` is the session of the caller; the window reads only the catalogue.
    MetadatiCategories(QNetworkCookieJar *jar, QWidget *parent, int idFolder, QString className);
    ~MetadatiCategories() override;

    int idFolder() const { return m_idFolder; }
    QString className() const { return m_className; }
    ListMetadataDelegate *model() const { return m_model; }

public slots:
    // However the window is dismissed (button, Esc, window manager) it ends accepted.
    void reject() override;

private slots:
    void onClickClose();

private:
    std::unique_ptr<Ui::MetadatiCategories> ui;
    int m_idFolder;
    QString m_className;
    Database m_database;
    QMovie m_loading;
    ListMetadataDelegate *m_model = nullptr;
};

#endif // METADATICATEGORIES_H
