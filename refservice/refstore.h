// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef REFSTORE_H
#define REFSTORE_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

class BlobStore;
class QSqlQuery;

// Everything the service keeps: accounts, storage profiles, policies, classes,
// index definitions, uploads waiting to be preserved, every version of every
// preserved file and its index values. SQLite in WAL mode with synchronous=FULL,
// so a committed transaction survives a crash of the process or of the machine.
//
// Thread-safe: the HTTP server calls it from its worker threads. Calls are
// serialised by one mutex, and each thread uses its own connection to the file
// (Qt SQL connections belong to the thread that created them).
class RefStore
{
public:
    struct Bucket {
        QString id, username, description, unit;
        qint64 quota = 0; // bytes; 0 = no quota
        qint64 used = 0;  // bytes
        qint64 div = 1;   // bytes per unit
        // "used of quota" in the profile's unit, e.g. "12 MB su 1024 MB".
        QString usageText() const;
    };
    struct Policy {
        QString id, idbucket, description;
    };
    struct IndexDef {
        int id = 0, idfolder = 0, type = 1, visible = 1, required = 0, custom = 0;
        QString name, tooltip;
    };
    struct Folder {
        int id = 0, custom = 0;
        QString name, groups, idbucket, idpolicy;
        QList<IndexDef> indexes;
    };
    struct FileVersion {
        qint64 id = 0, filesize = 0, tsupdate = 0, prevId = 0, lineage = 0;
        int idfolder = 0;
        bool current = false;
        QString username, hash, hash4k, idbucket, filename, lastModified, token, tsconserve, computerName;
    };
    struct Upload {
        QString username, hash, hash4k, prevHash, filename, lastModified;
        int idfolder = 0;
        qint64 filesize = 0;
    };
    struct IndexValue {
        int idmetadato = 0;
        QString value, hash;
    };
    struct Catalogue {
        QList<Bucket> buckets;
        QList<Policy> policies;
        QList<Folder> folders;
        QList<FileVersion> files;
        QList<IndexValue> values;
    };

    RefStore() = default;
    ~RefStore();
    RefStore(const RefStore &) = delete;
    RefStore &operator=(const RefStore &) = delete;

    // Opens (creating when missing) data/refservice.db and its schema.
    bool open(const QString &dataDir, QString *error);
    bool hasUsers();
    // Loads accounts, profiles, classes and documents from a JSON seed into an
    // empty store, in one transaction. Document contents go to `blobs`.
    bool loadSeed(const QByteArray &json, const BlobStore &blobs, QString *error);

    bool verifyPassword(const QString &username, const QString &password);
    // Changes the password; returns the rule broken (Italian) or an empty string.
    QString changePassword(const QString &username, const QString &oldPassword, const QString &newPassword);

    // The account's catalogue: profiles, policies, classes and index definitions
    // in full; current file versions (and their values) with tsupdate > cursor.
    Catalogue catalogue(const QString &username, qint64 cursor);

    std::optional<Folder> folderOfUser(const QString &username, int idfolder);
    std::optional<Folder> folderById(int idfolder);
    std::optional<Bucket> bucket(const QString &id);
    std::optional<FileVersion> currentVersion(const QString &username, const QString &hash, int idfolder);
    // The current version with that hash and class, else the newest earlier one.
    std::optional<FileVersion> anyVersion(const QString &username, const QString &hash, int idfolder);
    std::optional<FileVersion> versionById(qint64 id);
    std::optional<FileVersion> versionByToken(const QString &token);
    // Every version of the file's chain, newest first.
    QList<FileVersion> history(qint64 lineage);
    QMap<int, QString> values(qint64 fileId);

    // Space each class of the user can still take: the profile's quota less
    // what its preserved versions use (-1: no quota).
    QHash<int, qint64> spaceLeftByFolder(const QString &username);

    enum class UploadOutcome { Ok, QuotaExceeded, Failed };
    // Records an upload waiting to be preserved (replacing the record of the
    // same content sent before for the same class and version). It counts
    // against the profile's quota with the other uploads made since
    // `pendingSince` (seconds since the epoch) and not yet preserved;
    // `pending` receives what those take.
    UploadOutcome saveUpload(const Upload &upload, qint64 pendingSince, qint64 *pending, QString *error);
    // Drops the record of an upload whose content could not be kept.
    void forgetUpload(const Upload &upload);
    // Forgets the uploads made before `createdBefore` (seconds since the
    // epoch) that were never preserved; returns the contents that nothing
    // refers to any more, which the caller may remove.
    QStringList expireUploads(qint64 createdBefore);
    std::optional<Upload> pendingUpload(const QString &username, const QString &hash, int idfolder, const QString &prevHash);

    enum class ConserveOutcome { Ok, QuotaExceeded, Replaced, Failed };
    // Records a new version from an upload, with its index values; when
    // `replaces` is set (else: when the same content is current in the class)
    // that version stops being current and the new one joins its chain.
    // Updates the profile's used space, removes the upload.
    ConserveOutcome conserve(const Upload &upload, const QMap<int, QString> &values, const QString &computerName,
                             const std::optional<FileVersion> &replaces, FileVersion *stored, QString *error);

private:
    struct Seeder;
    QSqlDatabase connection();
    // The first file version matching `condition` (an SQL condition with "?"
    // placeholders, bound to `values` in order).
    std::optional<FileVersion> oneFile(const QString &condition, const QVariantList &values);
    // The same for a class (f) of a profile (b), with its index definitions.
    std::optional<Folder> oneFolder(const QString &condition, const QVariantList &values);
    bool createSchema(QSqlDatabase &db, QString *error);
    // The update stamp of a new version: milliseconds since the epoch, and
    // always above the last one given (kept in the database, so a restart or
    // a clock set back never repeats one).
    static qint64 nextTsUpdate(QSqlDatabase &db);
    static bool setPassword(QSqlDatabase &db, const QString &username, const QString &password, QString *error);
    // The steps of conserve(), inside its transaction; each returns false
    // (with `outcome` and `error` set) when the preservation cannot go on.
    static bool placeInProfile(QSqlQuery &q, const Upload &upload, FileVersion *f, ConserveOutcome *outcome,
                               QString *error);
    static bool retire(QSqlQuery &q, const Upload &upload, const std::optional<FileVersion> &replaces, FileVersion *f,
                       ConserveOutcome *outcome, QString *error);
    static bool insertVersion(QSqlQuery &q, FileVersion *f, QString *error);
    static bool insertValues(QSqlQuery &q, qint64 fileId, const QMap<int, QString> &values, QString *error);
    static bool consumeUpload(QSqlQuery &q, const Upload &upload, QString *error);

    QMutex m_mutex;
    QString m_path;
    QString m_connectionPrefix;
};

#endif // REFSTORE_H
