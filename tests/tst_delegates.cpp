// The file list's models and delegates: texts, markup, icons and dates.
#include "browse/dateformatdelegate.h"
#include "browse/filelistquery.h"
#include "browse/fingerprintcache.h"
#include "browse/htmlitemdelegate.h"
#include "browse/listfiledelegate.h"
#include "browse/metadatadetaildelegate.h"
#include "browse/searchindex.h"
#include "conserve/fingerprint.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QIcon>
#include <QImage>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>
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

int yellowPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == qRgb(255, 255, 0) ? 1 : 0;
    return count;
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

    // The text of `column` in the row of `hash`, in `role`.
    static QString cell(ListFileDelegate *model, const QString &hash, int column, int role = Qt::DisplayRole)
    {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, FileListQuery::Hash).data().toString() == hash)
                return model->index(row, column).data(role).toString();
        return QStringLiteral("no row %1").arg(hash);
    }

    // The details model of `hash`.
    std::unique_ptr<MetaDataDetailDelegate> details(const QString &hash)
    {
        auto model = std::make_unique<MetaDataDetailDelegate>();
        QSqlQuery query = FileListQuery::details(database.db, hash);
        if (!query.exec())
            return nullptr;
        model->setQuery(std::move(query));
        return model;
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
    void pathsShownAsFileAndFolder()
    {
        ListFileDelegate *model = listModel();
        QCOMPARE(model->index(0, FileListQuery::Hash).data().toString(), QStringLiteral("hhtml")); // newest first
        QCOMPARE(cell(model, "hwin", FileListQuery::FileName), QStringLiteral("atto.pdf"));
        QCOMPARE(cell(model, "hwin", FileListQuery::Path), QStringLiteral("C:\\dati\\"));
        QCOMPARE(cell(model, "hwin", FileListQuery::FileName, Qt::UserRole), QStringLiteral("atto.pdf"));
        QCOMPARE(cell(model, "hcase", FileListQuery::Path), QStringLiteral("/home/demo/"));
        QCOMPARE(cell(model, "hcase", FileListQuery::Path, Qt::UserRole), QStringLiteral("/home/demo"));
    }

    // Names are escaped before the search text is marked, and the search text
    // is found in the text as read.
    void markupInNamesIsShownAsText()
    {
        ListFileDelegate *model = listModel();
        QCOMPARE(cell(model, "hhtml", FileListQuery::FileName), QStringLiteral("&lt;b&gt;x&lt;b&gt; &amp; rossi.pdf"));
        QCOMPARE(cell(model, "hhtml", FileListQuery::FileName, ListFileDelegate::PlainRole),
                 QStringLiteral("<b>x<b> & rossi.pdf"));

        ListFileDelegate *searched = listModel(QStringLiteral("<b> &"));
        QCOMPARE(searched->rowCount(), 1);
        QCOMPARE(cell(searched, "hhtml", FileListQuery::FileName),
                 "&lt;b&gt;x" + kMark + "&lt;b&gt; &amp;</span> rossi.pdf");
    }

    // Every occurrence is marked, written as the first one is, in the shown
    // text columns only: never in the hidden hash, token and class id, nor in
    // the date, which is drawn as a date.
    void highlightEveryOccurrenceInShownColumnsOnly()
    {
        ListFileDelegate *model = listModel(QStringLiteral("rossi"));
        const QString mark = kMark + "ROSSI</span>";
        QCOMPARE(cell(model, "hcase", FileListQuery::FileName), mark + " " + mark + " " + mark + ".txt");
        QCOMPARE(cell(model, "hcase", FileListQuery::ComputerName), "pc-" + kMark + "Rossi</span>");
        QCOMPARE(cell(model, "hcase", FileListQuery::ClassName), kMark + "Rossi</span> e figli");
        QCOMPARE(cell(model, "hcase", FileListQuery::Token), QStringLiteral("TOK-rossi-hcase"));
        QCOMPARE(cell(model, "hcase", FileListQuery::ClassId), QStringLiteral("1"));
        QCOMPARE(cell(model, "hcase", FileListQuery::Hash), QStringLiteral("hcase"));

        ListFileDelegate *byDate = listModel(QStringLiteral("2026"));
        const QString date = cell(byDate, "hcase", FileListQuery::Preserved);
        QCOMPARE(date, QStringLiteral("2026-02-01 12:05:00"));
        DateFormatDelegate delegate(nullptr);
        for (const QLocale &locale : {QLocale(QLocale::English), QLocale(QLocale::Italian)})
            QCOMPARE(delegate.displayText(date, locale), QStringLiteral("01/02/2026 12:05:00"));
        QCOMPARE(delegate.displayText(QString(), QLocale()), QString());
    }

    void highlightFunction_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no search") << "a<b" << "" << "a&lt;b";
        QTest::newRow("not found") << "a<b" << "x" << "a&lt;b";
        QTest::newRow("at both ends") << "abXab" << "AB" << kMark + "ab</span>X" + kMark + "ab</span>";
        QTest::newRow("entity letters are not matched") << "a&b" << "amp" << "a&amp;b";
        QTest::newRow("quote") << "d'Amico" << "'a" << "d" + kMark + "'A</span>mico";
    }
    void highlightFunction()
    {
        QFETCH(QString, text);
        QFETCH(QString, search);
        QFETCH(QString, expected);
        QCOMPARE(ListFileDelegate::highlighted(text, search), expected);
    }

    // The icon tells whether the preserved content is at its path on this
    // computer; repaints read nothing again, and a different head answers
    // without reading the rest.
    void presenceIcon()
    {
        FingerprintCache &cache = FingerprintCache::instance();
        cache.clear();
        const QByteArray content = QByteArray(6000, 'a') + "fine";
        const QString path = local.filePath(QStringLiteral("verbale.pdf"));
        const QString hash = Fingerprint::hashOf(content);
        QVERIFY(writeFile(path, content));
        addFile("hlocal", Fingerprint::hashOf(content.left(4096)), path, "05/02/2026 10:00:00");
        addFile(hash, "", path, "06/02/2026 10:00:00");
        addFile("hmissing", "", local.filePath(QStringLiteral("assente.pdf")), "07/02/2026 10:00:00");

        ListFileDelegate *model = listModel();
        const QImage both = QIcon(":/images/cloudandpc.png").pixmap(16, 16).toImage();
        const QImage cloudOnly = QIcon(":/images/cloudonly.png").pixmap(16, 16).toImage();
        QVERIFY(both != cloudOnly);
        auto icon = [&](const QString &h) {
            for (int row = 0; row < model->rowCount(); ++row)
                if (model->index(row, FileListQuery::Hash).data().toString() == h)
                    return qvariant_cast<QIcon>(model->index(row, FileListQuery::FileName).data(Qt::DecorationRole))
                        .pixmap(16, 16)
                        .toImage();
            return QImage();
        };

        for (int i = 0; i < 5; ++i)
            QCOMPARE(icon(hash), both);
        QCOMPARE(icon("hmissing"), cloudOnly);
        QCOMPARE(model->getHash(path), hash);
        QCOMPARE(cache.fullReads(), 1);
        // Same head as "hlocal" but another whole content.
        QCOMPARE(icon("hlocal"), cloudOnly);
        QCOMPARE(cache.fullReads(), 1);
        QCOMPARE(cache.headReads(), 1);
        // Modified local copy.
        QVERIFY(writeFile(path, content + "modificato"));
        QCOMPARE(icon(hash), cloudOnly);
        QCOMPARE(cache.fullReads(), 2);
        QVERIFY(writeFile(path, QByteArray("Z") + content));
        QCOMPARE(icon("hlocal"), cloudOnly);
        QCOMPARE(cache.headReads(), 2);
        QCOMPARE(cache.fullReads(), 2);
        // The same content again: present again.
        QVERIFY(writeFile(path, content));
        QCOMPARE(icon(hash), both);
        exec(database.db, "DELETE FROM files WHERE fullpath = ? OR hash = 'hmissing'", {path});
    }

    // Five fixed rows, then the values by index id (a value without an index is
    // left out); values holding the search text are marked. The hash is bound.
    void detailsOfAFile()
    {
        auto model = details(QStringLiteral("hcase"));
        QVERIFY(model);
        QStringList keys;
        for (int row = 0; row < model->rowCount(); ++row)
            keys << model->data(model->index(row, 1)).toString();
        QCOMPARE(keys, (QStringList{"Token", "Conservato da", "Conservato il", "Computer name", "Ultima modifica",
                                    "Anno", "Cliente"}));
        QCOMPARE(model->data(model->index(2, 2)).toString(), QStringLiteral("01/02/2026 12:05:00"));
        QVERIFY(!model->data(model->index(6, 2), Qt::BackgroundRole).isValid());
        model->setSearchText(QStringLiteral("ROSSI"));
        QCOMPARE(model->data(model->index(6, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
        QCOMPARE(model->data(model->index(0, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow)); // the token
        QVERIFY(!model->data(model->index(5, 2), Qt::BackgroundRole).isValid());
        QVERIFY(!model->data(model->index(6, 1), Qt::BackgroundRole).isValid());

        addFile("h'1", "", "/tmp/x.txt", "01/01/2026 00:00:00");
        auto quoted = details(QStringLiteral("h'1"));
        QVERIFY(quoted);
        QCOMPARE(quoted->rowCount(), 5);
        QCOMPARE(quoted->data(quoted->index(0, 2)).toString(), QStringLiteral("TOK-rossi-h'1"));
        exec(database.db, "DELETE FROM files WHERE hash = ?", {QStringLiteral("h'1")});
    }

    // The rich-text delegate draws the highlight span and not the markup.
    void richTextIsDrawn()
    {
        QStandardItemModel model(1, 2);
        model.setData(model.index(0, 0), "a " + kMark + "WWWWWW</span>");
        model.setData(model.index(0, 1), QStringLiteral("&lt;span&gt; plain"));
        QTableView view;
        view.resize(500, 100);
        HTMLItemDelegate delegate;
        view.setItemDelegate(&delegate);
        view.setModel(&model);
        view.setColumnWidth(0, 200);
        view.setColumnWidth(1, 200);
        QImage image(view.size(), QImage::Format_RGB32);
        view.render(&image);
        auto cellImage = [&](int column) {
            return image.copy(view.visualRect(model.index(0, column)).translated(view.viewport()->pos()));
        };
        QVERIFY(yellowPixels(cellImage(0)) > 50);
        QCOMPARE(yellowPixels(cellImage(1)), 0);
        const QSize hint = delegate.sizeHint(QStyleOptionViewItem(), model.index(0, 1));
        QVERIFY(hint.width() > 20 && hint.height() > 5);
    }
};

TAVREL_TEST_MAIN(TestDelegates)
#include "tst_delegates.moc"
