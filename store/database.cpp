// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "store/database.h"

#include "app/constants.h"
#include "browse/searchindex.h"
#include "store/cataloguefile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>

namespace {
const char *const kOrganisation = "Velutra Spa";
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
// Why the last outermost openDB() found the catalogue unusable ("" when it did not).
QString g_problem;
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
    const QString path = dir + QDir::separator() + QStringLiteral("tavrellite.db");
    const CatalogueFile file(dir, path);
    const bool firstMeeting = file.prepare();

    if (QSqlDatabase::contains(name))
        db = QSqlDatabase::database(name, false);
    else
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);

    if (db.open() && !CatalogueFile::looksIntact(db, firstMeeting)) {
        // The catalogue only mirrors the service: a file that is not a database,
        // or a damaged one, is kept aside for inspection and a fresh catalogue
        // is built, which the next synchronisation fills again.
        db.close();
        if (file.setAside()) {
            file.prepare();
            db.open();
        }
    }
    g_problem = file.problem(db.isOpen(), db.lastError().text());
    if (!db.isOpen()) {
        qDebug() << "Db nn aperto: " << db.lastError().text();
        return;
    }
    initialDB();
    SearchIndex::attach(db);
    g_openDepth = 1;
}

QString Database::unusableMessage()
{
    Database probe;
    probe.openDB();
    probe.closeDB();
    if (g_problem.isEmpty())
        return QString();
    const QString message =
        tr("Tavrel Lite non può usare il catalogo locale.\n\n%1\n\n"
           "Finché il problema resta, l'elenco dei documenti conservati e le impostazioni non possono "
           "essere letti o salvati. Correggi il problema e riavvia Tavrel Lite.")
            .arg(g_problem);
    // Also for whoever started the client from a terminal.
    qWarning().noquote() << message;
    return message;
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
        SearchIndex::leave(db);
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
