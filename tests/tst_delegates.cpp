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

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>

namespace {

void exec(QSqlDatabase &db, const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        qFatal("%s", qPrintable(sql));
}

QImage iconImage(const QVariant &value)
{
    return qvariant_cast<QIcon>(value).pixmap(16, 16).toImage();
}

QImage resourceIcon(const char *path)
{
    return QIcon(QLatin1String(path)).pixmap(16, 16).toImage();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(content);
    return true;
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

    int rowOf(ListFileDelegate *model, const QString &hash)
    {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->data(model->index(row, FileListQuery::Hash)).toString() == hash)
                return row;
        return -1;
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

    void pathsShownAsFileAndFolder()
    {
        ListFileDelegate *model = listModel();
        const int row = rowOf(model, "hwin");
        QVERIFY(row >= 0);
        QCOMPARE(model->data(model->index(row, FileListQuery::FileName)).toString(), QStringLiteral("atto.pdf"));
        QCOMPARE(model->data(model->index(row, FileListQuery::Path)).toString(), QStringLiteral("C:\\dati\\"));
        QCOMPARE(model->data(model->index(row, FileListQuery::FileName), Qt::UserRole).toString(),
                 QStringLiteral("atto.pdf"));

        const int unix = rowOf(model, "hcase");
        QCOMPARE(model->data(model->index(unix, FileListQuery::Path)).toString(), QStringLiteral("/home/demo/"));
        QCOMPARE(model->data(model->index(unix, FileListQuery::Path), Qt::UserRole).toString(),
                 QStringLiteral("/home/demo"));
        QCOMPARE(model->data(model->index(unix, FileListQuery::Preserved)).toString(),
                 QStringLiteral("2026-02-01 12:05:00"));
        // Newest first.
        QCOMPARE(model->data(model->index(0, FileListQuery::Hash)).toString(), QStringLiteral("hhtml"));
    }

    void markupInNamesIsShownAsText()
    {
        ListFileDelegate *model = listModel();
        const int row = rowOf(model, "hhtml");
        QCOMPARE(model->data(model->index(row, FileListQuery::FileName)).toString(),
                 QStringLiteral("&lt;b&gt;x&lt;b&gt; &amp; rossi.pdf"));
        QCOMPARE(model->plainText(model->index(row, FileListQuery::FileName)), QStringLiteral("<b>x<b> & rossi.pdf"));
        QCOMPARE(model->data(model->index(row, FileListQuery::FileName), ListFileDelegate::PlainRole).toString(),
                 QStringLiteral("<b>x<b> & rossi.pdf"));

        // The search text is found in the text as read, and escaped too.
        ListFileDelegate *searched = listModel(QStringLiteral("<b> &"));
        QCOMPARE(searched->rowCount(), 1);
        QCOMPARE(searched->data(searched->index(0, FileListQuery::FileName)).toString(),
                 QStringLiteral("&lt;b&gt;x<span style=\"background-color:yellow\">&lt;b&gt; &amp;</span> rossi.pdf"));
    }

    void highlightEveryOccurrenceInShownColumnsOnly()
    {
        ListFileDelegate *model = listModel(QStringLiteral("rossi"));
        const int row = rowOf(model, "hcase");
        QVERIFY(row >= 0);
        const QString mark = QStringLiteral("<span style=\"background-color:yellow\">ROSSI</span>");
        // Every occurrence, written as the first one is.
        QCOMPARE(model->data(model->index(row, FileListQuery::FileName)).toString(),
                 mark + " " + mark + " " + mark + ".txt");
        QCOMPARE(model->data(model->index(row, FileListQuery::ComputerName)).toString(),
                 QStringLiteral("pc-<span style=\"background-color:yellow\">Rossi</span>"));
        QCOMPARE(model->data(model->index(row, FileListQuery::ClassName)).toString(),
                 QStringLiteral("<span style=\"background-color:yellow\">Rossi</span> e figli"));
        // Never in the hidden hash, token and class id, nor in the date.
        QCOMPARE(model->data(model->index(row, FileListQuery::Token)).toString(), QStringLiteral("TOK-rossi-hcase"));
        QCOMPARE(model->data(model->index(row, FileListQuery::ClassId)).toString(), QStringLiteral("1"));
        QCOMPARE(model->data(model->index(row, FileListQuery::Hash)).toString(), QStringLiteral("hcase"));

        ListFileDelegate *byDate = listModel(QStringLiteral("2026"));
        QCOMPARE(byDate->data(byDate->index(0, FileListQuery::Preserved)).toString(),
                 QStringLiteral("2026-02-01 12:05:00"));
        QCOMPARE(DateFormatDelegate(nullptr).displayText(byDate->data(byDate->index(0, FileListQuery::Preserved)),
                                                         QLocale()),
                 QStringLiteral("01/02/2026 12:05:00"));
    }

    void highlightFunction_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("expected");
        const QString open = QStringLiteral("<span style=\"background-color:yellow\">");
        const QString close = QStringLiteral("</span>");
        QTest::newRow("no search") << "a<b" << "" << "a&lt;b";
        QTest::newRow("not found") << "abc" << "x" << "abc";
        QTest::newRow("at both ends") << "abXab" << "AB" << open + "ab" + close + "X" + open + "ab" + close;
        QTest::newRow("entity letters are not matched") << "a&b" << "amp" << "a&amp;b";
        QTest::newRow("quote") << "d'Amico" << "'a" << "d" + open + "'A" + close + "mico";
    }
    void highlightFunction()
    {
        QFETCH(QString, text);
        QFETCH(QString, search);
        QFETCH(QString, expected);
        QCOMPARE(ListFileDelegate::highlighted(text, search), expected);
    }

    void presenceIcon()
    {
        FingerprintCache &cache = FingerprintCache::instance();
        cache.clear();
        const QByteArray content = QByteArray(6000, 'a') + "fine";
        const QString path = local.filePath(QStringLiteral("verbale.pdf"));
        QVERIFY(writeFile(path, content));
        addFile("hlocal", Fingerprint::hashOf(content.left(4096)), path, "05/02/2026 10:00:00");
        addFile(Fingerprint::hashOf(content), "", path, "06/02/2026 10:00:00");
        addFile("hmissing", "", local.filePath(QStringLiteral("assente.pdf")), "07/02/2026 10:00:00");

        ListFileDelegate *model = listModel();
        const QImage both = resourceIcon(":/images/cloudandpc.png");
        const QImage cloudOnly = resourceIcon(":/images/cloudonly.png");
        QVERIFY(both != cloudOnly);
        auto icon = [&](const QString &hash) {
            return iconImage(model->data(model->index(rowOf(model, hash), FileListQuery::FileName), Qt::DecorationRole));
        };

        // Unchanged local copy at the preserved path.
        QCOMPARE(icon(Fingerprint::hashOf(content)), both);
        QCOMPARE(icon("hmissing"), cloudOnly);
        QCOMPARE(cache.fullReads(), 1);
        // Repaints do not read the file again.
        for (int i = 0; i < 5; ++i)
            QCOMPARE(icon(Fingerprint::hashOf(content)), both);
        QCOMPARE(cache.fullReads(), 1);
        QCOMPARE(model->getHash(path), Fingerprint::hashOf(content));
        QCOMPARE(cache.fullReads(), 1);

        // Same head as "hlocal" but another whole content: read in full, cloud only.
        QCOMPARE(icon("hlocal"), cloudOnly);
        QCOMPARE(cache.fullReads(), 1);
        QCOMPARE(cache.headReads(), 1);

        // Modified local copy: cloud only.
        QVERIFY(writeFile(path, content + "modificato"));
        QCOMPARE(icon(Fingerprint::hashOf(content)), cloudOnly);
        QCOMPARE(cache.fullReads(), 2);

        // A different head answers at once, without reading the rest.
        QVERIFY(writeFile(path, QByteArray("Z") + content));
        QCOMPARE(icon("hlocal"), cloudOnly);
        QCOMPARE(cache.headReads(), 2);
        QCOMPARE(cache.fullReads(), 2);

        // The same content again: present again.
        QVERIFY(writeFile(path, content));
        QCOMPARE(icon(Fingerprint::hashOf(content)), both);
        exec(database.db, "DELETE FROM files WHERE fullpath = ?", {path});
        exec(database.db, "DELETE FROM files WHERE hash = 'hmissing'");
    }

    void detailBackgroundMarksMatchingValues()
    {
        MetaDataDetailDelegate model;
        QSqlQuery query = FileListQuery::details(database.db, QStringLiteral("hcase"));
        query.exec();
        model.setQuery(std::move(query));
        QStringList keys;
        for (int row = 0; row < model.rowCount(); ++row)
            keys << model.data(model.index(row, 1)).toString();
        // Five fixed rows, then the values by index id; a value without an index is left out.
        QCOMPARE(keys, (QStringList{"Token", "Conservato da", "Conservato il", "Computer name", "Ultima modifica",
                                    "Anno", "Cliente"}));
        QCOMPARE(model.data(model.index(2, 2)).toString(), QStringLiteral("01/02/2026 12:05:00"));

        QVERIFY(!model.data(model.index(6, 2), Qt::BackgroundRole).isValid());
        model.setSearchText(QStringLiteral("ROSSI"));
        QCOMPARE(model.data(model.index(6, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
        QCOMPARE(model.data(model.index(0, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow)); // the token
        QVERIFY(!model.data(model.index(5, 2), Qt::BackgroundRole).isValid());
        QVERIFY(!model.data(model.index(6, 1), Qt::BackgroundRole).isValid());
    }

    void detailsBindAHashWithQuotes()
    {
        addFile("h'1", "", "/tmp/x.txt", "01/01/2026 00:00:00");
        MetaDataDetailDelegate model;
        QSqlQuery query = FileListQuery::details(database.db, QStringLiteral("h'1"));
        QVERIFY(query.exec());
        model.setQuery(std::move(query));
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("TOK-rossi-h'1"));
        exec(database.db, "DELETE FROM files WHERE hash = ?", {QStringLiteral("h'1")});
    }

    void dateFormat()
    {
        DateFormatDelegate delegate(nullptr);
        QCOMPARE(delegate.displayText(QStringLiteral("2026-01-15 10:02:11"), QLocale(QLocale::English)),
                 QStringLiteral("15/01/2026 10:02:11"));
        QCOMPARE(delegate.displayText(QStringLiteral("2026-12-31 23:59:59"), QLocale(QLocale::Italian)),
                 QStringLiteral("31/12/2026 23:59:59"));
        QCOMPARE(delegate.displayText(QString(), QLocale()), QString());
    }

    // The rich-text delegate draws the highlight span and not the markup.
    void richTextIsDrawn()
    {
        QStandardItemModel model(1, 2);
        model.setData(model.index(0, 0), QStringLiteral("a <span style=\"background-color:yellow\">WWWWWW</span>"));
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
        const QRect first = view.visualRect(model.index(0, 0)).translated(view.viewport()->pos());
        const QRect second = view.visualRect(model.index(0, 1)).translated(view.viewport()->pos());
        QVERIFY(yellowPixels(image.copy(first)) > 50);
        QCOMPARE(yellowPixels(image.copy(second)), 0);

        const QSize hint = delegate.sizeHint(QStyleOptionViewItem(), model.index(0, 1));
        QVERIFY(hint.width() > 20);
        QVERIFY(hint.height() > 5);
    }
};

TAVREL_TEST_MAIN(TestDelegates)
#include "tst_delegates.moc"
