#include "admin/classlistmodel.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QHeaderView>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>

namespace {
void addClass(QSqlQuery &query, int id, const QString &name, const QString &profile)
{
    query.prepare("INSERT INTO folders (idfolder, name, groups, custom, idbuckets, idpolicies) "
                  "VALUES (?, ?, 'Gruppo', 0, ?, 'P1')");
    query.addBindValue(id);
    query.addBindValue(name);
    query.addBindValue(profile);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

QStringList names(const ClassListModel &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out << model.classNameAt(row);
    out.sort();
    return out;
}
} // namespace

class TestClassList : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            addClass(query, 1, "Fatture attive", "B1");
            addClass(query, 2, "Fatture passive", "B1");
            addClass(query, 3, "Contratti", "B1");
            addClass(query, 4, "Libro dell'inventario", "B1");
            addClass(query, 5, "Sconto 50% clienti", "B1");
            addClass(query, 6, "Sconto 50 clienti", "B1");
            addClass(query, 7, "Registro_IVA", "B1");
            addClass(query, 8, "RegistroXIVA", "B1");
            addClass(query, 9, "Fatture estere", "B2");
            addClass(query, 10, "Profilo con apice", "B'3");
        }
        database.closeDB();
    }

    void listsOnlyTheProfilesClasses()
    {
        ClassListModel model;
        QCOMPARE(model.rowCount(), 0); // nothing is read before the first reload
        model.setProfile("B1");
        model.reload();
        QCOMPARE(model.rowCount(), 8);
        QVERIFY(!names(model).contains("Fatture estere"));

        model.setProfile("B2");
        model.reload();
        QCOMPARE(names(model), QStringList{"Fatture estere"});

        // A profile id with a quote is matched literally, not spliced into the SQL.
        model.setProfile("B'3");
        model.reload();
        QCOMPARE(names(model), QStringList{"Profilo con apice"});
    }

    void filterMatchesAnyPartOfTheNameWithinTheProfile()
    {
        ClassListModel model;
        model.setProfile("B1");
        model.reload();
        model.setNameFilter("ttur");
        QCOMPARE(names(model), (QStringList{"Fatture attive", "Fatture passive"}));
        model.setNameFilter("PASSIVE"); // case does not matter
        QCOMPARE(names(model), QStringList{"Fatture passive"});
        model.setNameFilter("Fatt");    // the other profile's "Fatture estere" never shows
        QCOMPARE(model.rowCount(), 2);
        model.setNameFilter("nessuna classe");
        QCOMPARE(model.rowCount(), 0);
        model.setNameFilter(QString());
        QCOMPARE(model.rowCount(), 8);

        // The text stays in force when the list is read again.
        model.setNameFilter("Contr");
        model.reload();
        QCOMPARE(names(model), QStringList{"Contratti"});
    }

    void typedQuotesAndWildcardsMatchThemselves()
    {
        ClassListModel model;
        model.setProfile("B1");
        model.setNameFilter("dell'inv");
        QCOMPARE(names(model), QStringList{"Libro dell'inventario"});
        model.setNameFilter("'");
        QCOMPARE(names(model), QStringList{"Libro dell'inventario"});
        model.setNameFilter("50%");
        QCOMPARE(names(model), QStringList{"Sconto 50% clienti"});
        model.setNameFilter("%");
        QCOMPARE(names(model), QStringList{"Sconto 50% clienti"});
        model.setNameFilter("o_I");
        QCOMPARE(names(model), QStringList{"Registro_IVA"});
        model.setNameFilter("\\");
        QCOMPARE(model.rowCount(), 0);
        model.setNameFilter("' OR '1'='1");
        QCOMPARE(model.rowCount(), 0);
    }

    void everyRowIsLoadedAndReadableAfterTheCatalogueCloses()
    {
        Database database;
        database.openDB();
        {
            QSqlQuery query(database.db);
            database.db.transaction();
            for (int id = 100; id < 700; ++id)
                addClass(query, id, QStringLiteral("Classe %1").arg(id), "BIG");
            database.db.commit();
        }
        database.closeDB();

        ClassListModel model;
        model.setProfile("BIG");
        model.reload();
        QCOMPARE(model.rowCount(), 600);
        QVERIFY(!QSqlDatabase::database(Database::connectionName(), false).isOpen());
        QSet<int> ids;
        for (int row = 0; row < model.rowCount(); ++row) {
            ids.insert(model.classIdAt(row));
            QCOMPARE(model.classNameAt(row), QStringLiteral("Classe %1").arg(model.classIdAt(row)));
        }
        QCOMPARE(ids.size(), 600);
    }

    void viewShowsOnlyTheNameReadOnly()
    {
        ClassListModel model;
        model.setProfile("B2");
        model.reload();
        QTableView view;
        view.resize(400, 200);
        model.attachTo(&view);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (int column = 0; column < model.columnCount(); ++column)
            QCOMPARE(view.isColumnHidden(column), column != ClassListModel::ColName);
        QCOMPARE(view.editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(view.horizontalHeader()->sectionResizeMode(ClassListModel::ColName), QHeaderView::Stretch);
        QCOMPARE(view.columnWidth(ClassListModel::ColName), view.viewport()->width());
        QCOMPARE(model.classIdAt(0), 9);
    }

};

TAVREL_TEST_MAIN(TestClassList)
#include "tst_classlist.moc"
