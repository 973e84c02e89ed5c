// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "store/cataloguefile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QSqlError>
#include <QSqlQuery>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The catalogue file this process opened last, by device and inode (0 before
// the first open). Another file under the path (restored, copied, rebuilt) is
// met anew; a file replaced by renaming always has another inode.
QPair<quint64, quint64> g_lastFile(0, 0);

// The tables of the catalogue. Checking them one by one leaves out whatever
// else the file may hold, which the client does not read as the catalogue.
const char *const kTables[] = {"dbversion", "settings", "buckets", "policies", "folders", "metadati",
                               "tipo_metadato", "tipo_required", "stato_metadato", "files", "metadati_values"};

// SQLite primary result codes that mean the file is not a usable database.
bool isDamage(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("26") /* SQLITE_NOTADB */
        || code == QLatin1String("11") /* SQLITE_CORRUPT */;
}

// Takes the group and other permissions away from `path`, when it is of `type`.
void keepToOwner(const QString &path, mode_t type)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) == 0 && (info.st_mode & S_IFMT) == type && (info.st_mode & 077))
        ::chmod(name.constData(), info.st_mode & 07700);
}
} // namespace

CatalogueFile::CatalogueFile(const QString &directory, const QString &path)
    : m_directory(directory), m_path(path)
{
}

bool CatalogueFile::prepare() const
{
    if (!QFileInfo::exists(m_directory) && QDir().mkpath(m_directory))
        keepToOwner(m_directory, S_IFDIR);
    // An empty file is an empty database to SQLite; made here, it is private
    // from its first byte.
    const QByteArray file = QFile::encodeName(m_path);
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::close(fd);

    struct stat info = {};
    if (::stat(file.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const QPair<quint64, quint64> identity(quint64(info.st_dev), quint64(info.st_ino));
    if (identity == g_lastFile)
        return false;
    g_lastFile = identity;

    // A catalogue made by an earlier version, readable by everyone.
    keepToOwner(m_directory, S_IFDIR);
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        keepToOwner(m_path + QLatin1String(suffix), S_IFREG);
    return true;
}

bool CatalogueFile::looksIntact(const QSqlDatabase &db, bool thorough)
{
    QSqlQuery probe(db);
    // Reads the first page: garbage is found here at every open.
    if (!probe.exec(QStringLiteral("PRAGMA schema_version")))
        return !isDamage(probe.lastError());
    if (!thorough)
        return true;
    for (const char *table : kTables) {
        if (!probe.exec(QStringLiteral("PRAGMA main.quick_check(%1)").arg(QLatin1String(table)))) {
            if (isDamage(probe.lastError()))
                return false;
            continue; // missing from an older catalogue, which the version check rebuilds
        }
        while (probe.next()) {
            if (probe.value(0).toString() != QLatin1String("ok"))
                return false;
        }
    }
    return true;
}

bool CatalogueFile::setAside() const
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 1; QFile::exists(aside); ++n)
        aside = m_path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_path, aside)) {
        qDebug() << "Db nn aperto: " << "cannot move the unreadable catalogue aside";
        return false;
    }
    qDebug() << "Unreadable catalogue moved to" << aside;
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        QFile::rename(m_path + QLatin1String(suffix), aside + QLatin1String(suffix));
    return true;
}

QString CatalogueFile::problem(bool opened, const QString &openError) const
{
    // Each path on a line of its own, so that a long one is not broken up.
    const QFileInfo folder(m_directory);
    const QFileInfo file(m_path);
    if (folder.exists() && !folder.isDir())
        return tr("Al posto della cartella\n%1\nc'è un file.").arg(m_directory);
    if (!folder.exists())
        return tr("Non è possibile creare la cartella\n%1").arg(m_directory);
    if (file.isDir())
        return tr("Al posto del file\n%1\nc'è una cartella.").arg(m_path);
    if (file.exists() && ::access(QFile::encodeName(m_path).constData(), R_OK | W_OK) != 0) {
        const bool readable = ::access(QFile::encodeName(m_path).constData(), R_OK) == 0;
        if (file.ownerId() != ::getuid())
            return (readable ? tr("Il file\n%1\nappartiene a un altro utente (%2) e questo utente non può modificarlo.")
                             : tr("Il file\n%1\nappartiene a un altro utente (%2) e questo utente non può leggerlo."))
                .arg(m_path, file.owner().isEmpty() ? QString::number(file.ownerId()) : file.owner());
        return tr("Il file\n%1\nnon ha i permessi di lettura e scrittura.").arg(m_path);
    }
    if (::access(QFile::encodeName(m_directory).constData(), W_OK | X_OK) != 0)
        return tr("La cartella\n%1\nnon è scrivibile.").arg(m_directory);
    if (!opened)
        return tr("Il file\n%1\nnon si apre (%2).")
            .arg(m_path, openError.trimmed().isEmpty() ? tr("è danneggiato") : openError.trimmed());
    return QString();
}
