// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "store/database.h"

#include "app/constants.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>

namespace {
const char *const kOrganisation = "Velutra Spa";

// SQLite primary result codes that mean the file is not a usable database at all.
bool isUnreadableFileError(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("26") /* SQLITE_NOTADB */
        || code == QLatin1String("11") /* SQLITE_CORRUPT */;
}
} // namespace

Database::Database(QObject *parent)
    : QObject(parent)
{
}

QString Database::dataDirectory()
{
    // The directory that would hold the organisation's user-scope INI settings,
    // without the organisation's own name, followed by "TavrelLite".
    QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
    QString dir;
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromLatin1(kOrganisation), QString());
        dir = QFileInfo(settings.fileName()).absolutePath();
    }
    dir.remove(QString::fromLatin1(kOrganisation));
    dir += QDir::separator() + QStringLiteral("TavrelLite");
    QCoreApplication::setOrganizationName(QString());
    return dir;
}

QString Database::databasePath()
{
    return dataDirectory() + QDir::separator() + QStringLiteral("tavrellite.db");
}

namespace {
// How many openDB() calls on the shared connection have no closeDB() yet. A use
// nested inside another (a handler run while a synchronisation holds its
// transaction) joins the open connection instead of reopening it, and its
// closeDB() leaves the commit and the close to the outermost user.
int g_openDepth = 0;
} // namespace

void Database::openDB()
{
    const QString name = QString::fromLatin1(connectionName());
    if (g_openDepth > 0 && QSqlDatabase::contains(name)) {
        db = QSqlDatabase::database(name, false);
        if (db.isOpen()) {
            ++g_openDepth;
            return;
        }
    }
    g_openDepth = 0;

    const QString dir = dataDirectory();
    if (!QDir(dir).exists())
        QDir().mkpath(dir);
    const QString path = dir + QDir::separator() + QStringLiteral("tavrellite.db");

    if (QSqlDatabase::contains(name))
        db = QSqlDatabase::database(name, false);
    else
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);

    db.setDatabaseName(path);
    if (!db.open()) {
        qDebug() << "Db nn aperto: " << db.lastError().text();
        return;
    }
    if (looksUnreadable()) {
        // The catalogue only mirrors the service: a file that is not a database
        // is kept aside for inspection and a fresh catalogue is built, which the
        // next synchronisation fills again.
        db.close();
        setAsideUnreadableFile(path);
        if (!db.open()) {
            qDebug() << "Db nn aperto: " << db.lastError().text();
            return;
        }
    }
    initialDB();
    g_openDepth = 1;
}

bool Database::looksUnreadable()
{
    QSqlQuery probe(db);
    if (probe.exec(QStringLiteral("PRAGMA schema_version")))
        return false;
    return isUnreadableFileError(probe.lastError());
}

void Database::setAsideUnreadableFile(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 1; QFile::exists(aside); ++n)
        aside = path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, aside))
        qDebug() << "Db nn aperto: " << "cannot move the unreadable catalogue aside";
    else
        qDebug() << "Unreadable catalogue moved to" << aside;
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        QFile::rename(path + QLatin1String(suffix), aside + QLatin1String(suffix));
}

void Database::closeDB()
{
    if (g_openDepth > 1) {
        --g_openDepth;
        return;
    }
    g_openDepth = 0;
    if (db.isOpen()) {
        db.commit();
        db.close();
    }
}

void Database::initialDB()
{
    QString version = QStringLiteral("0");
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("SELECT version FROM dbversion")) && query.next())
        version = query.value(0).toString();
    query.finish();
    if (version != QLatin1String(DBVERSION))
        createDb();
}

void Database::createDb()
{
    static const char *const statements[] = {
        "DROP TABLE IF EXISTS dbversion",
        "CREATE TABLE dbversion (version text)",
        "INSERT INTO dbversion (version) VALUES (" DBVERSION ")",
        "CREATE TABLE IF NOT EXISTS settings (key text, value text, PRIMARY KEY(key))",
        "INSERT OR REPLACE INTO settings (key, value) VALUES ('url', '" URLSERVICE "')",
        "DROP TABLE IF EXISTS buckets",
        "CREATE TABLE buckets (idbuckets text, description text, quota int, used int, unit text, div int, PRIMARY KEY(idbuckets))",
        "DROP TABLE IF EXISTS policies",
        "CREATE TABLE policies (idpolicies text, idbuckets text, description text, PRIMARY KEY(idpolicies, idbuckets))",
        "DROP TABLE IF EXISTS folders",
        "CREATE TABLE folders (idfolder int, name text, groups text, custom int, idbuckets text, idpolicies text, PRIMARY KEY(idfolder))",
        "DROP TABLE IF EXISTS metadati",
        "CREATE TABLE metadati (idmetadato INTEGER PRIMARY KEY AUTOINCREMENT, idfolder int, nome text, tipo int DEFAULT 0, visibile int DEFAULT 0, required int DEFAULT 0, custom int DEFAULT 0)",
        "DROP TABLE IF EXISTS tipo_metadato",
        "CREATE TABLE tipo_metadato (id int, value text, PRIMARY KEY(id))",
        "INSERT INTO tipo_metadato (id, value) VALUES (1, 'Testo')",
        "INSERT INTO tipo_metadato (id, value) VALUES (2, 'Numerico')",
        "INSERT INTO tipo_metadato (id, value) VALUES (3, 'Data')",
        "DROP TABLE IF EXISTS tipo_required",
        "CREATE TABLE tipo_required (id int, value text, PRIMARY KEY(id))",
        "INSERT INTO tipo_required (id, value) VALUES (0, 'Facoltativo')",
        "INSERT INTO tipo_required (id, value) VALUES (1, 'Obbligatorio')",
        "DROP TABLE IF EXISTS stato_metadato",
        "CREATE TABLE stato_metadato (id int, value text, PRIMARY KEY(id))",
        "INSERT INTO stato_metadato (id, value) VALUES (1, 'Visibile')",
        "INSERT INTO stato_metadato (id, value) VALUES (0, 'Invisibile')",
        "DROP TABLE IF EXISTS files",
        "CREATE TABLE files (hash text, hash4k text, last_modified text, fullpath text, token text, folderid int, username text, tsupdate real, idbuckets text, tsconserve text, computer_name text, PRIMARY KEY(hash, folderid))",
        "DROP TABLE IF EXISTS metadati_values",
        "CREATE TABLE metadati_values (id INTEGER primary key, idmetadata int, value text, hash text)",
        "CREATE UNIQUE INDEX metadati_values_index ON metadati_values (idmetadata, hash)",
        "CREATE VIEW metadati_values_complete as select hash,'' as key, folders.name as value from folders join files on (folderid=idfolder) union select hash, '' as key, computer_name as value from files union select hash, '' as key, fullpath as value from files union select hash, nome as key, value from metadati_values INNER JOIN metadati on metadati.idmetadato = metadati_values.idmetadata",
    };
    QSqlQuery query(db);
    for (const char *statement : statements)
        query.exec(QString::fromUtf8(statement));
}
