// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The class list of a profile: only that profile's classes, filtered by any
// part of the name, with quotes and LIKE wildcards matching themselves.
#include "admin/classlistmodel.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QSqlError>
#include <QSqlQuery>

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
            const QStringList b1{"Fatture attive", "Fatture passive", "Contratti", "Libro dell'inventario",
                                 "Sconto 50% clienti", "Sconto 50 clienti", "Registro_IVA", "RegistroXIVA"};
            for (int i = 0; i < b1.size(); ++i)
                addClass(query, i + 1, b1.at(i), "B1");
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
        QCOMPARE(model.classIdAt(0), 9);
        // A profile id with a quote is matched literally, not spliced into the SQL.
        model.setProfile("B'3");
        model.reload();
        QCOMPARE(names(model), QStringList{"Profilo con apice"});
    }

    void nameFilter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("any part") << "ttur" << QStringList{"Fatture attive", "Fatture passive"};
        QTest::newRow("case ignored") << "PASSIVE" << QStringList{"Fatture passive"};
        // The other profile's "Fatture estere" never shows.
        QTest::newRow("within the profile") << "Fatt" << QStringList{"Fatture attive", "Fatture passive"};
        QTest::newRow("no match") << "nessuna classe" << QStringList{};
        QTest::newRow("apostrophe") << "dell'inv" << QStringList{"Libro dell'inventario"};
        QTest::newRow("lone apostrophe") << "'" << QStringList{"Libro dell'inventario"};
        QTest::newRow("percent") << "50%" << QStringList{"Sconto 50% clienti"};
        QTest::newRow("lone percent") << "%" << QStringList{"Sconto 50% clienti"};
        QTest::newRow("underscore") << "o_I" << QStringList{"Registro_IVA"};
        QTest::newRow("backslash") << "\\" << QStringList{};
        QTest::newRow("quoted condition") << "' OR '1'='1" << QStringList{};
    }
    void nameFilter()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        ClassListModel model;
        model.setProfile("B1");
        model.setNameFilter(text);
        QCOMPARE(names(model), expected);
        // The text stays in force when the list is read again; cleared, all come back.
        model.reload();
        QCOMPARE(names(model), expected);
        model.setNameFilter(QString());
        QCOMPARE(model.rowCount(), 8);
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
};

TAVREL_TEST_MAIN(TestClassList)
#include "tst_classlist.moc"
