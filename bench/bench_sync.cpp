// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// bench_sync: first synchronisation of a large account through KVWConn.
//  A login reply with 50,000 files of 10 index values each (about 66 MB of XML)
//  is served from a file by a small HTTP server on loopback; a KVWConn logs in
//  and applies it to an empty catalogue that has the file list's search index
//  (as on a client that has shown its list once). Measured: the time from the
//  login request until the body is applied (search index included) and retry()
//  is emitted, and the peak resident memory of the process. Then the same rows
//  are written with the same prepared statements in one transaction, with no
//  XML, and the search index is built over them in one pass ("raw"); both
//  catalogues are compared table by table, search index included.
// Last line: RESULT seconds=X peak_mib=Y ratio_vs_raw_inserts=Z identical=yes|no

#include "browse/searchindex.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/testenv.h"

#include <httplib.h>
#include <sqlite3.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

#include <array>
#include <cstdio>
#include <ctime>
#include <vector>
#include <thread>

#include "bench/procstatus.h"

namespace {
const int kFiles = 50000;
const int kValuesPerFile = 10;
const int kFolders = 40;

QString hex40(const QByteArray &seed)
{
    return QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex());
}

struct FileRow {
    QString hash, hash4k, lastModified, filename, token;
    int folder;
    QString username, tsupdate, bucket, tsconserve, computer;
};

FileRow fileRow(int i)
{
    const QByteArray n = QByteArray::number(i);
    const QString day = QStringLiteral("%1/%2/20%3 %4:%5:%6")
                            .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                            .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                            .arg(10 + i % 16)
                            .arg(i % 24, 2, 10, QLatin1Char('0'))
                            .arg(i % 60, 2, 10, QLatin1Char('0'))
                            .arg((i * 7) % 60, 2, 10, QLatin1Char('0'));
    return FileRow{hex40("file" + n),
                   hex40("head" + n),
                   day,
                   QStringLiteral("C:\\Archivio\\%1\\atto_%2.pdf").arg(i / 100).arg(i),
                   hex40("token" + n).left(32),
                   1 + i % kFolders,
                   QStringLiteral("demo"),
                   QString::number(1700000000000LL + i),
                   QStringLiteral("B1"),
                   day,
                   QStringLiteral("PC-UFFICIO-%1").arg(i % 7)};
}

QString valueText(int file, int k)
{
    return QStringLiteral("Prot. %1/%2").arg(file).arg(k);
}

int indexId(int folder, int k)
{
    return folder * 100 + k;
}

QString attr(const QString &s)
{
    return s.toHtmlEscaped();
}

// Writes the login reply to `path`; returns its size.
qint64 writeBody(const QString &path)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return -1;
    QString chunk;
    const auto flush = [&](bool force) {
        if (force || chunk.size() > (1 << 20)) {
            out.write(chunk.toUtf8());
            chunk.clear();
        }
    };
    chunk += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><statusnumber>1</statusnumber>"
                            "<body><statusdescription>Accesso effettuato</statusdescription><buckets>"
                            "<bucket id=\"B1\" description=\"Archivio\" quota=\"100000\" used=\"2500\" unit=\"MB\" div=\"1\"/>"
                            "</buckets><policies><policie policie=\"P1\" idbucket=\"B1\" description=\"Decennale\"/>"
                            "<policie policie=\"P2\" idbucket=\"B1\" description=\"Illimitata\"/></policies><folders>");
    for (int f = 1; f <= kFolders; ++f) {
        chunk += QStringLiteral("<folder id=\"%1\" name=\"Classe %1\" groups=\"Gruppo %2\" custom=\"0\" "
                                "idbuckets=\"B1\" idpolicies=\"P%3\">")
                     .arg(f).arg(f % 5).arg(1 + f % 2);
        for (int k = 0; k < kValuesPerFile; ++k)
            chunk += QStringLiteral("<metadato idmetadato=\"%1\" idfolder=\"%2\" name=\"Indice %3\" type=\"1\" "
                                    "visible=\"1\" required=\"%4\" custom=\"0\"/>")
                         .arg(indexId(f, k)).arg(f).arg(k).arg(k < 2 ? 1 : 0);
        chunk += QStringLiteral("</folder>");
    }
    chunk += QStringLiteral("</folders><files>");
    for (int i = 0; i < kFiles; ++i) {
        const FileRow r = fileRow(i);
        chunk += QStringLiteral("<file hash=\"%1\" hash4k=\"%2\" last_modified=\"%3\" filename=\"%4\" token=\"%5\" "
                                "idfolder=\"%6\" username=\"%7\" tsupdate=\"%8\" idbuckets=\"%9\" ")
                     .arg(r.hash, r.hash4k, r.lastModified, attr(r.filename), r.token, QString::number(r.folder),
                          r.username, r.tsupdate, r.bucket)
            + QStringLiteral("tsconserve=\"%1\" computer_name=\"%2\"/>").arg(r.tsconserve, r.computer);
        flush(false);
    }
    chunk += QStringLiteral("</files><metadatoValues>");
    for (int i = 0; i < kFiles; ++i) {
        const FileRow r = fileRow(i);
        for (int k = 0; k < kValuesPerFile; ++k)
            chunk += QStringLiteral("<metadatoValue key=\"%1\" value=\"%2\" hash=\"%3\"/>")
                         .arg(indexId(r.folder, k)).arg(attr(valueText(i, k)), r.hash);
        flush(false);
    }
    chunk += QStringLiteral("</metadatoValues></body></response>");
    flush(true);
    return out.size();
}

// The rows of the reply, ready in memory.
struct Rows {
    std::vector<FileRow> files;
    std::vector<std::array<QString, 3>> values;
};

Rows makeRows()
{
    Rows rows;
    rows.files.reserve(kFiles);
    rows.values.reserve(size_t(kFiles) * kValuesPerFile);
    for (int i = 0; i < kFiles; ++i)
        rows.files.push_back(fileRow(i));
    for (int i = 0; i < kFiles; ++i) {
        for (int k = 0; k < kValuesPerFile; ++k)
            rows.values.push_back({QString::number(indexId(rows.files[size_t(i)].folder, k)), valueText(i, k),
                                   rows.files[size_t(i)].hash});
    }
    return rows;
}

// Binds and runs one prepared statement of the raw baseline.
struct Raw {
    sqlite3_stmt *stmt = nullptr;
    Raw(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
    ~Raw() { sqlite3_finalize(stmt); }
    Raw &text(int col, const QString &v)
    {
        sqlite3_bind_text16(stmt, col, v.isEmpty() ? static_cast<const void *>(u"") : v.utf16(),
                            int(v.size() * 2), SQLITE_STATIC);
        return *this;
    }
    Raw &integer(int col, int v)
    {
        sqlite3_bind_int(stmt, col, v);
        return *this;
    }
    void run()
    {
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    }
};

// The same rows through the same statements and connection settings, in one
// transaction, with no XML: the rows are already in memory and bound straight
// from it with SQLite's own interface. Returns the seconds taken.
double rawInserts(const Rows &rows)
{
    QElapsedTimer timer;
    timer.start();
    Database database;
    database.openDB();
    QSqlQuery(database.db).exec(QStringLiteral("PRAGMA cache_size = -65536"));
    database.db.transaction();
    {
        sqlite3 *db = *static_cast<sqlite3 *const *>(database.db.driver()->handle().constData());
        QSqlQuery q(database.db);
        for (const char *t : {"DELETE FROM buckets", "DELETE FROM policies", "DELETE FROM folders", "DELETE FROM metadati"})
            q.exec(QLatin1String(t));
        Raw bucket(db, "INSERT INTO buckets (idbuckets, description, quota, used, unit, div) VALUES (?, ?, ?, ?, ?, ?)");
        bucket.text(1, QStringLiteral("B1")).text(2, QStringLiteral("Archivio")).text(3, QStringLiteral("100000"))
            .text(4, QStringLiteral("2500")).text(5, QStringLiteral("MB")).text(6, QStringLiteral("1")).run();
        Raw policy(db, "INSERT INTO policies (idpolicies, idbuckets, description) VALUES (?, ?, ?)");
        policy.text(1, QStringLiteral("P1")).text(2, QStringLiteral("B1")).text(3, QStringLiteral("Decennale")).run();
        policy.text(1, QStringLiteral("P2")).text(2, QStringLiteral("B1")).text(3, QStringLiteral("Illimitata")).run();
        Raw folder(db, "INSERT INTO folders (idfolder, name, groups, custom, idbuckets, idpolicies) VALUES (?, ?, ?, ?, ?, ?)");
        Raw index(db, "INSERT INTO metadati (idmetadato, idfolder, nome, tipo, visibile, required, custom) VALUES (?, ?, ?, ?, ?, ?, ?)");
        for (int f = 1; f <= kFolders; ++f) {
            const QString name = QStringLiteral("Classe %1").arg(f), group = QStringLiteral("Gruppo %1").arg(f % 5),
                          policyId = QStringLiteral("P%1").arg(1 + f % 2);
            folder.integer(1, f).text(2, name).text(3, group).text(4, QStringLiteral("0")).text(5, QStringLiteral("B1"))
                .text(6, policyId).run();
            for (int k = 0; k < kValuesPerFile; ++k) {
                const QString indexName = QStringLiteral("Indice %1").arg(k);
                index.integer(1, indexId(f, k)).integer(2, f).text(3, indexName).integer(4, 1).integer(5, 1)
                    .integer(6, k < 2 ? 1 : 0).integer(7, 0).run();
            }
        }
        Raw file(db, "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, folderid, username, tsupdate, idbuckets, tsconserve, computer_name) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        for (const FileRow &r : rows.files) {
            file.text(1, r.hash).text(2, r.hash4k).text(3, r.lastModified).text(4, r.filename).text(5, r.token)
                .integer(6, r.folder).text(7, r.username).text(8, r.tsupdate).text(9, r.bucket).text(10, r.tsconserve)
                .text(11, r.computer).run();
        }
        Raw value(db, "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)");
        for (const auto &v : rows.values)
            value.text(1, v[0]).text(2, v[1]).text(3, v[2]).run();
    }
    database.db.commit();
    database.closeDB();
    return timer.nsecsElapsed() / 1e9;
}

// An empty catalogue as a client that has already shown its file list holds
// it: with the search index and the triggers that keep it in step.
void emptyCatalogue(bool withSearchIndex)
{
    Database database;
    database.openDB();
    database.createDb();
    if (withSearchIndex)
        SearchIndex::ensure(database.db);
    database.closeDB();
}

// Builds the search index over the catalogue as it stands; returns the seconds taken.
double buildSearchIndex()
{
    QElapsedTimer timer;
    timer.start();
    Database database;
    database.openDB();
    SearchIndex::ensure(database.db);
    database.closeDB();
    return timer.nsecsElapsed() / 1e9;
}

qint64 searchRows()
{
    Database database;
    database.openDB();
    qint64 n = -1;
    {
        QSqlQuery q(database.db);
        if (q.exec(QStringLiteral("SELECT count(*) FROM search_text")) && q.next())
            n = q.value(0).toLongLong();
    }
    database.closeDB();
    return n;
}

// SHA-1 of every row of the catalogue's synchronised tables and of the search
// index's texts, in a fixed order.
QByteArray fingerprint(qint64 *rowCount)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    *rowCount = 0;
    Database database;
    database.openDB();
    {
        QSqlQuery q(database.db);
        for (const char *sql : {"SELECT * FROM buckets ORDER BY idbuckets", "SELECT * FROM policies ORDER BY 1, 2",
                                "SELECT * FROM folders ORDER BY idfolder", "SELECT * FROM metadati ORDER BY idmetadato",
                                "SELECT * FROM files ORDER BY hash, folderid",
                                "SELECT idmetadata, value, hash, typeof(idmetadata) FROM metadati_values ORDER BY 1, 3",
                                "SELECT hash, kind, ref, value FROM search_text ORDER BY 1, 2, 3, 4"}) {
            q.exec(QLatin1String(sql));
            while (q.next()) {
                for (int i = 0; i < q.record().count(); ++i) {
                    hash.addData(q.value(i).toString().toUtf8());
                    hash.addData(QByteArrayView("\x1f", 1));
                }
                ++*rowCount;
            }
        }
    }
    database.closeDB();
    return hash.result();
}

// CPU time of the calling thread: on a busy machine it shows what the wall
// time would be without the competition.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double peakMib()
{
    return procStatusKb("VmHWM:") / 1024.0;
}
} // namespace

int main(int argc, char *argv[])
{
    TestEnv env; // private HOME and catalogue
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QString bodyPath = env.tmpDir() + QStringLiteral("/login-reply.xml");
    const qint64 bodySize = writeBody(bodyPath);
    std::printf("reply: %d files, %d index values, %.1f MB of XML\n", kFiles, kFiles * kValuesPerFile,
                bodySize / 1e6);

    // Serves the reply from the file in slices, so the server side holds almost nothing.
    httplib::Server server;
    const std::string file = bodyPath.toStdString();
    server.Post("/kvshop/RestService", [&](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(size_t(bodySize), "text/xml;charset=UTF-8",
                                 [file](size_t offset, size_t length, httplib::DataSink &sink) {
                                     FILE *f = std::fopen(file.c_str(), "rb");
                                     if (!f)
                                         return false;
                                     std::fseek(f, long(offset), SEEK_SET);
                                     std::string buf(std::min<size_t>(length, 1 << 20), '\0');
                                     const size_t n = std::fread(buf.data(), 1, buf.size(), f);
                                     std::fclose(f);
                                     return n > 0 && sink.write(buf.data(), n);
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });

    emptyCatalogue(true);
    Setting().saveSetting(QStringLiteral("url"), QStringLiteral("http://127.0.0.1:%1").arg(port));

    double seconds = 0;
    double cpuSeconds = 0;
    bool applied = false;
    {
        SessionCookieJar jar;
        KVWConn conn(&jar);
        QEventLoop loop;
        QObject::connect(&conn, &KVWConn::retry, &loop, [&] { applied = true; loop.quit(); });
        QObject::connect(&conn, &KVWConn::commandFailure, &loop, &QEventLoop::quit);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        const double cpu0 = threadCpuSeconds();
        conn.login(QStringLiteral("demo"), QStringLiteral("Tavrel2026"), true);
        loop.exec();
        seconds = timer.nsecsElapsed() / 1e9;
        cpuSeconds = threadCpuSeconds() - cpu0;
    }
    const double peak = peakMib();
    server.stop();
    serving.join();
    if (!applied) {
        std::printf("the login reply was not applied\n");
        std::printf("RESULT seconds=0 peak_mib=%.0f ratio_vs_raw_inserts=0 identical=no\n", peak);
        return 1;
    }
    qint64 syncRows = 0;
    const QByteArray synced = fingerprint(&syncRows);
    std::printf("through KVWConn: %.2f s (%.2f s of CPU in the GUI thread), peak resident memory %.0f MiB, "
                "%lld rows\n", seconds, cpuSeconds, peak, static_cast<long long>(syncRows));

    // The reference: the same rows bound from memory into the same statements in
    // one transaction, then the search index built over them in one pass.
    emptyCatalogue(false);
    const Rows rows = makeRows();
    const double rawCpu0 = threadCpuSeconds();
    const double insertSeconds = rawInserts(rows);
    const double rawCpu = threadCpuSeconds() - rawCpu0;
    const double indexSeconds = buildSearchIndex();
    const double rawSeconds = insertSeconds + indexSeconds;
    qint64 rawRows = 0;
    const bool identical = fingerprint(&rawRows) == synced && rawRows == syncRows;
    std::printf("raw: prepared inserts of the same rows %.2f s (%.2f s of CPU), then the search index %.2f s; "
                "%lld rows and %lld indexed texts\n", insertSeconds, rawCpu, indexSeconds,
                static_cast<long long>(rawRows), static_cast<long long>(searchRows()));
    std::printf("RESULT seconds=%.2f peak_mib=%.0f ratio_vs_raw_inserts=%.2f identical=%s\n", seconds, peak,
                seconds / rawSeconds, identical ? "yes" : "no");
    return identical && seconds < 6.0 && peak < 400.0 ? 0 : 1;
}
