// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef CATEGORIE_H
#define CATEGORIE_H

#include "store/database.h"
#include "store/setting.h"

#include <QDialog>
#include <QDomElement>
#include <QItemSelection>
#include <QMovie>
#include <QPointer>
#include <QString>
#include <memory>

class ClassListModel;
class KVWConn;
class MetadatiCategories;
class QNetworkCookieJar;
namespace Ui {
class Categorie;
}

// The classes of one storage profile, for the user to look at (with their
// index definitions) while choosing where to preserve a file. The window
// brings the catalogue up to date with the service itself: the opener shows it
// and then calls syncCategorie(). "Chiudi" accepts it; a failed
// synchronisation reports the error and closes it without accepting.
class Categorie : public QDialog
{
    Q_OBJECT
public:
    Categorie(QNetworkCookieJar *jar, QString profileId, QString profileName, QWidget *parent = nullptr);
    ~Categorie() override;

    ClassListModel *model() const { return m_model; }
    KVWConn *connection() const { return m_conn.get(); }
    // The index definitions window opened last (null when none or already gone).
    MetadatiCategories *metadataWindow() const { return m_metadati; }

public slots:
    void syncCategorie();
    void retrySyncCategorie();

private slots:
    void onClickShowMetadata(const QModelIndex &index);
    void onClickShowMetadataCurrent();
    void onFilterList(const QString &text);
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void onSyncCategorieOK(const QDomElement &body, const QString &statusNumber);
    void onSyncCategorieKO(const QString &description, const QString &statusNumber);
    void closeDialog();

private:
    void showMetadata(int idFolder, const QString &className);
    void stopLoading();
    void unsubscribe();

    std::unique_ptr<Ui::Categorie> ui;
    QString m_profileId;
    QString m_profileName;
    QNetworkCookieJar *m_jar;
    std::unique_ptr<KVWConn> m_conn;
    Database m_database;
    Setting m_setting;
    QMovie m_loading;
    ClassListModel *m_model = nullptr;
    QPointer<MetadatiCategories> m_metadati;
};

#endif // CATEGORIE_H
