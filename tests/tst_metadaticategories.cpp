// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The index definitions of a class: names, type names and the two flags shown
// as check marks, in a read-only window that any way of closing accepts.
#include "admin/listmetadatadelegate.h"
#include "admin/metadaticategories.h"
#include "store/database.h"
#include "support/testenv.h"

#include <QPushButton>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>

namespace {
void addIndex(QSqlQuery &query, int id, int folder, const QString &name, int tipo, const QVariant &visibile,
              const QVariant &required)
{
    query.prepare("INSERT INTO metadati (idmetadato, idfolder, nome, tipo, visibile, required, custom) "
                  "VALUES (?, ?, ?, ?, ?, ?, 0)");
    for (const QVariant &value : {QVariant(id), QVariant(folder), QVariant(name), QVariant(tipo), visibile, required})
        query.addBindValue(value);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

QStringList column(const QAbstractItemModel *model, int col)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, col).data().toString();
    return out;
}

bool hasCheck(const QAbstractItemModel *model, int row, int col)
{
    const QPixmap pixmap = model->index(row, col).data(Qt::DecorationRole).value<QPixmap>();
    return !pixmap.isNull() && pixmap.size() == QSize(16, 16);
}
} // namespace

class TestMetadatiCategories : public QObject
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
            // Class 10: rows stored out of id order, one without a known type.
            addIndex(query, 7, 10, "Data documento", 3, 1, 1);
            addIndex(query, 3, 10, "Numero", 2, 1, 0);
            addIndex(query, 5, 10, "Senza tipo", 0, 1, 1);
            addIndex(query, 9, 10, "Note", 1, 0, 2);
            addIndex(query, 11, 10, "Valori strani", 1, 2, -1);
            addIndex(query, 12, 10, "Testo nei flag", 1, "si", "1x");
            // Another class.
            addIndex(query, 4, 20, "Cliente", 1, 1, 1);
        }
        database.closeDB();
    }

    // Sorted by id; the index whose type is unknown (0) is left out by the
    // join; the other class's "Cliente" never shows. A flag shows a check mark
    // only for 1, and never as text.
    void listsTheClassIndexes()
    {
        MetadatiCategories window(nullptr, nullptr, 10, "Fatture");
        const ListMetadataDelegate *model = window.model();
        QCOMPARE(column(model, ListMetadataDelegate::ColNome),
                 (QStringList{"Numero", "Data documento", "Note", "Valori strani", "Testo nei flag"}));
        QCOMPARE(column(model, ListMetadataDelegate::ColTipo),
                 (QStringList{"Numerico", "Data", "Testo", "Testo", "Testo"}));
        QCOMPARE(model->headerData(ListMetadataDelegate::ColNome, Qt::Horizontal).toString(),
                 QStringLiteral("Nome classe"));
        QVERIFY(!QSqlDatabase::database(Database::connectionName(), false).isOpen());

        const int vis = ListMetadataDelegate::ColVisibile, req = ListMetadataDelegate::ColRequired;
        const QList<bool> visibleChecks{true, true, false, false, false};
        const QList<bool> requiredChecks{false, true, false, false, false};
        for (int row = 0; row < model->rowCount(); ++row) {
            QCOMPARE(hasCheck(model, row, vis), visibleChecks.at(row));
            QCOMPARE(hasCheck(model, row, req), requiredChecks.at(row));
            QCOMPARE(model->index(row, vis).data().toString(), QString());
            QCOMPARE(model->index(row, req).data().toString(), QString());
        }
        QVERIFY(!model->index(0, ListMetadataDelegate::ColNome).data(Qt::DecorationRole).isValid());

        MetadatiCategories empty(nullptr, nullptr, 99, "Vuota");
        QCOMPARE(empty.model()->rowCount(), 0);
    }

    void windowLayout()
    {
        QWidget owner;
        auto *window = new MetadatiCategories(nullptr, &owner, 10, "Fatture passive");
        QCOMPARE(window->windowTitle(), QStringLiteral("Indici della classe Fatture passive"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        auto *table = window->findChild<QTableView *>("twMetadati");
        for (int col = 0; col < table->model()->columnCount(); ++col)
            QCOMPARE(table->isColumnHidden(col), col == 0 || col == 1 || col == 6);
        for (const char *name : {"btmAdd", "btmUpdate", "btmDelete", "lblLoading"})
            QVERIFY2(window->findChild<QWidget *>(name)->isHidden(), name);
        // Every visible column fits without a horizontal scroll bar.
        QVERIFY(!table->horizontalScrollBar()->isVisible());

        // The check mark of "Obbligatorio" is drawn in the middle of its cell,
        // the one of "Visibile" at the left.
        const QImage shot = table->viewport()->grab().toImage();
        auto inkCentre = [&](int col) {
            const QRect cell = table->visualRect(table->model()->index(1, col)).adjusted(1, 1, -1, -1);
            const QRgb background = shot.pixel(cell.topLeft());
            qint64 sumX = 0, sumY = 0, count = 0;
            for (int y = cell.top(); y <= cell.bottom(); ++y)
                for (int x = cell.left(); x <= cell.right(); ++x)
                    if (shot.pixel(x, y) != background) {
                        sumX += x;
                        sumY += y;
                        ++count;
                    }
            return count ? QPoint(int(sumX / count) - cell.center().x(), int(sumY / count) - cell.center().y())
                         : QPoint(9999, 9999);
        };
        const QPoint required = inkCentre(ListMetadataDelegate::ColRequired);
        QVERIFY2(qAbs(required.x()) <= 3 && qAbs(required.y()) <= 3,
                 qPrintable(QStringLiteral("%1,%2").arg(required.x()).arg(required.y())));
        QVERIFY(inkCentre(ListMetadataDelegate::ColVisibile).x() < -20);

        // "Chiudi" accepts the window, and so does any other way of closing it.
        QSignalSpy accepted(window, &QDialog::accepted);
        QTest::mouseClick(window->findChild<QPushButton *>("btmClose"), Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
        QVERIFY(!window->isVisible());
        window->show();
        QTest::keyClick(window, Qt::Key_Escape);
        QCOMPARE(accepted.count(), 2);
        QCOMPARE(window->result(), int(QDialog::Accepted));
    }
};

TAVREL_TEST_MAIN(TestMetadatiCategories)
#include "tst_metadaticategories.moc"
