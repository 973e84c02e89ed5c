// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The file list's models and delegates: texts, markup, icons and dates.
#include "browse/dateformatdelegate.h"
#include "browse/filelistquery.h"
#include "browse/fingerprintcache.h"
#include "browse/listfiledelegate.h"
#include "browse/metadatadetaildelegate.h"
#include "browse/searchindex.h"
#include "conserve/fingerprint.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QIcon>
#include <QImage>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {
const QString kMark = QStringLiteral("<span style=\"background-color:yellow\">");

void exec(QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        qFatal("%s", qPrintable(sql));
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}
} // namespace

class TestDelegates : public QObject
{
    Q_OBJECT

    Database database;
    QTemporaryDir local;

    void addFile(const QString &hash, const QString &hash4k, const QString &path, const QString &when)
    {
        exec(database.db,
             "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, folderid, username, tsupdate, "
             "idbuckets, tsconserve, computer_name) VALUES (?, ?, '01/01/2026 08:00:00', ?, ?, 1, 'demo', 1, 'P1', ?, "
             "'pc-Rossi')",
             {hash, hash4k, path, QStringLiteral("TOK-rossi-") + hash, when});
    }

    // The list model of profile P1 searched for `text`, all rows read.
    ListFileDelegate *listModel(const QString &text = QString())
    {
        auto *model = new ListFileDelegate(this);
        QSqlQuery query = FileListQuery::list(database.db, QStringLiteral("%"), QStringLiteral("P1"), text);
        query.exec();
        model->setQuery(std::move(query));
        while (model->canFetchMore())
            model->fetchMore();
        model->setSearchText(text);
        return model;
    }

    // The data of `column` in the row of `hash`, in `role`.
    static QVariant data(ListFileDelegate *model, const QString &hash, int column, int role = Qt::DisplayRole)
    {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, FileListQuery::Hash).data().toString() == hash)
                return model->index(row, column).data(role);
        return QStringLiteral("no row %1").arg(hash);
    }
    static QString cell(ListFileDelegate *model, const QString &hash, int column, int role = Qt::DisplayRole)
    {
        return data(model, hash, column, role).toString();
    }

private slots:
    void initTestCase()
    {
        database.openDB();
        exec(database.db, "INSERT INTO buckets (idbuckets, description) VALUES ('P1', 'Uno')");
        exec(database.db, "INSERT INTO folders (idfolder, name, idbuckets) VALUES (1, 'Rossi e figli', 'P1')");
        exec(database.db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (7, 1, 'Cliente'), "
                          "(3, 1, 'Anno')");
        addFile("hwin", "", "C:\\dati\\atto.pdf", "02/02/2026 12:05:00");
        addFile("hhtml", "", "/home/demo/<b>x<b> & rossi.pdf", "03/02/2026 12:05:00");
        addFile("hcase", "", "/home/demo/ROSSI rossi Rossi.txt", "01/02/2026 12:05:00");
        exec(database.db, "INSERT INTO metadati_values (idmetadata, value, hash) VALUES (7, 'Ditta Rossi', 'hcase'), "
                          "(3, '2026', 'hcase'), (99, 'senza indice', 'hcase')");
        SearchIndex::ensure(database.db);
    }

    void cleanupTestCase()
    {
        database.closeDB();
    }

    // Stored paths shown as file and folder, whichever separator they use.
    // Names are escaped before the search text is marked, and the search text
    // is found in the text as read.
    void pathsAndMarkupInNames()
    {
        ListFileDelegate *model = listModel();
        QCOMPARE(cell(model, "hwin", FileListQuery::FileName), QStringLiteral("atto.pdf"));
        QCOMPARE(cell(model, "hwin", FileListQuery::Path), QStringLiteral("C:\\dati\\"));
        QCOMPARE(cell(model, "hcase", FileListQuery::Path), QStringLiteral("/home/demo/"));
        QCOMPARE(cell(model, "hhtml", FileListQuery::FileName), QStringLiteral("&lt;b&gt;x&lt;b&gt; &amp; rossi.pdf"));

        ListFileDelegate *searched = listModel(QStringLiteral("<b> &"));
        QCOMPARE(searched->rowCount(), 1);
        QCOMPARE(cell(searched, "hhtml", FileListQuery::FileName),
                 "&lt;b&gt;x" + kMark + "&lt;b&gt; &amp;</span> rossi.pdf");
    }

    // Every occurrence is marked, written as the first one is, in the shown
    // text columns only: never in the hidden hash, token and class id, nor in
    // the date, which is drawn as a date whatever the locale.
    void highlightEveryOccurrenceInShownColumnsOnly()
    {
        ListFileDelegate *model = listModel(QStringLiteral("rossi"));
        const QString mark = kMark + "ROSSI</span>";
        QCOMPARE(cell(model, "hcase", FileListQuery::FileName), mark + " " + mark + " " + mark + ".txt");
        QCOMPARE(cell(model, "hcase", FileListQuery::ComputerName), "pc-" + kMark + "Rossi</span>");
        QCOMPARE(cell(model, "hcase", FileListQuery::ClassName), kMark + "Rossi</span> e figli");
        QCOMPARE(cell(model, "hcase", FileListQuery::Token) + "|" + cell(model, "hcase", FileListQuery::ClassId) + "|"
                     + cell(model, "hcase", FileListQuery::Hash),
                 QStringLiteral("TOK-rossi-hcase|1|hcase"));

        const QString date = cell(listModel(QStringLiteral("2026")), "hcase", FileListQuery::Preserved);
        QCOMPARE(date, QStringLiteral("2026-02-01 12:05:00"));
        DateFormatDelegate delegate(nullptr);
        for (const QLocale &locale : {QLocale(QLocale::English), QLocale(QLocale::Italian)})
            QCOMPARE(delegate.displayText(date, locale), QStringLiteral("01/02/2026 12:05:00"));
        QCOMPARE(delegate.displayText(QString(), QLocale()), QString());

        // Matches at both ends, letters of an entity never, a quote as typed.
        QCOMPARE(ListFileDelegate::highlighted("abXab", "AB"), kMark + "ab</span>X" + kMark + "ab</span>");
        QCOMPARE(ListFileDelegate::highlighted("a&b", "amp"), QStringLiteral("a&amp;b"));
        QCOMPARE(ListFileDelegate::highlighted("d'Amico", "'a"), "d" + kMark + "'A</span>mico");
    }

    // The icon tells whether the preserved content is at its path on this
    // computer (the whole content, not only its head); repaints read nothing
    // again, and a changed file is read again.
    void presenceIcon()
    {
        FingerprintCache &cache = FingerprintCache::instance();
        cache.clear();
        const QByteArray content = QByteArray(6000, 'a') + "fine";
        const QString path = local.filePath(QStringLiteral("verbale.pdf"));
        const QString hash = Fingerprint::hashOf(content);
        QVERIFY(writeFile(path, content));
        addFile(hash, "", path, "06/02/2026 10:00:00");
        addFile("hlocal", Fingerprint::hashOf(content.left(4096)), path, "05/02/2026 10:00:00");
        addFile("hmissing", "", local.filePath(QStringLiteral("assente.pdf")), "07/02/2026 10:00:00");

        ListFileDelegate *model = listModel();
        const QImage both = QIcon(":/images/cloudandpc.png").pixmap(16, 16).toImage();
        const QImage cloudOnly = QIcon(":/images/cloudonly.png").pixmap(16, 16).toImage();
        QVERIFY(both != cloudOnly);
        auto icon = [&](const QString &h) {
            return qvariant_cast<QIcon>(data(model, h, FileListQuery::FileName, Qt::DecorationRole))
                .pixmap(16, 16)
                .toImage();
        };

        for (int i = 0; i < 5; ++i)
            QCOMPARE(icon(hash), both);
        QCOMPARE(icon("hmissing"), cloudOnly);
        QCOMPARE(model->getHash(path), hash);
        QCOMPARE(icon("hlocal"), cloudOnly); // the same head, another whole content
        QCOMPARE(cache.fullReads(), 1);
        // Modified local copy, then the same content again.
        QVERIFY(writeFile(path, content + "modificato"));
        QCOMPARE(icon(hash), cloudOnly);
        QCOMPARE(cache.fullReads(), 2);
        QVERIFY(writeFile(path, content));
        QCOMPARE(icon(hash), both);
        exec(database.db, "DELETE FROM files WHERE fullpath = ? OR hash = 'hmissing'", {path});
    }

    // Details: the values by index id after the five fixed rows, a value
    // without an index left out, only those holding the search text marked.
    // The hash is bound, not spliced into the statement.
    void detailsOfAFile()
    {
        addFile("h'1", "", "/tmp/x.txt", "01/01/2026 00:00:00");
        for (const QString hash : {"hcase", "h'1"}) {
            MetaDataDetailDelegate model;
            QSqlQuery query = FileListQuery::details(database.db, hash);
            QVERIFY(query.exec());
            model.setQuery(std::move(query));
            model.setSearchText(QStringLiteral("ROSSI"));
            auto marked = [&](int row) { return model.data(model.index(row, 2), Qt::BackgroundRole).isValid(); };
            QCOMPARE(model.data(model.index(0, 2)).toString(), "TOK-rossi-" + hash);
            QVERIFY(marked(0));
            QStringList values; // after the fixed rows, "*" when marked
            for (int row = 5; row < model.rowCount(); ++row)
                values << model.data(model.index(row, 1)).toString() + "=" + (marked(row) ? "*" : "")
                              + model.data(model.index(row, 2)).toString();
            QCOMPARE(values, hash == "h'1" ? QStringList() : (QStringList{"Anno=2026", "Cliente=*Ditta Rossi"}));
        }
        exec(database.db, "DELETE FROM files WHERE hash = ?", {QStringLiteral("h'1")});
    }
};

TAVREL_TEST_MAIN(TestDelegates)
#include "tst_delegates.moc"
