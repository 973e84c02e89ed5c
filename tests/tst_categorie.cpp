// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The Categorie window against the reference service: it brings the catalogue
// up to date itself, lists only the chosen profile's classes, filters them by
// name, opens their index definitions, and closes on a failed synchronisation.

#include "admin/categorie.h"
#include "admin/classlistmodel.h"
#include "admin/listmetadatadelegate.h"
#include "admin/metadaticategories.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>

namespace {
QStringList listed(const QTableView *view)
{
    QStringList out;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        out << view->model()->index(row, ClassListModel::ColName).data().toString();
    out.sort();
    return out;
}
} // namespace

class TestCategorie : public QObject
{
    Q_OBJECT

    std::unique_ptr<RefServiceFixture> m_service;
    std::unique_ptr<SessionCookieJar> m_jar;
    std::unique_ptr<PromptRecorder> m_prompts;

    // A Categorie window on the demo company profile, shown and synchronising.
    std::unique_ptr<Categorie> openWindow()
    {
        auto window = std::make_unique<Categorie>(m_jar.get(), "PRF-AZIENDA", "Archivio aziendale");
        window->show();
        window->syncCategorie();
        return window;
    }

    static QTableView *table(Categorie &w) { return w.findChild<QTableView *>("twCategorie"); }
    static QPushButton *indici(Categorie &w) { return w.findChild<QPushButton *>("btmMetadati"); }
    static QLabel *loading(Categorie &w) { return w.findChild<QLabel *>("lblLoading"); }
    static QLineEdit *search(Categorie &w) { return w.findChild<QLineEdit *>("leSearch"); }
    static bool loaded(Categorie &w)
    {
        return QTest::qWaitFor([&] { return !loading(w)->isVisible(); }, 15000);
    }

private slots:
    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
        m_service = std::make_unique<RefServiceFixture>();
        QVERIFY2(m_service->start(), qPrintable(m_service->errorString()));
        Setting().saveSetting("url", m_service->baseUrl());
        // "demo" signed in on the shared session, as the main window does.
        m_jar = std::make_unique<SessionCookieJar>();
        {
            KVWConn conn(m_jar.get());
            QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
            conn.login("demo", "Tavrel2026", false);
            QVERIFY(ok.wait(15000));
            m_jar->setCredentials("demo", "Tavrel2026");
        }
        // What the window shows must come from its own synchronisation.
        Database database;
        database.openDB();
        QVERIFY(QSqlQuery(database.db).exec("DELETE FROM folders"));
        database.closeDB();
        m_prompts = std::make_unique<PromptRecorder>();
    }

    void cleanup()
    {
        m_prompts.reset();
        m_jar.reset();
        m_service.reset();
    }

    void listsTheProfileAfterItsOwnSynchronisation()
    {
        QVERIFY(m_service->delayNext(1500));
        auto window = openWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("Classi (Archivio aziendale)"));
        // Busy and empty while the synchronisation runs.
        QVERIFY(loading(*window)->isVisible());
        QCOMPARE(loading(*window)->movie()->state(), QMovie::Running);
        QCOMPARE(table(*window)->model()->rowCount(), 0);
        QVERIFY(!indici(*window)->isEnabled());

        QVERIFY(loaded(*window));
        QCOMPARE(loading(*window)->movie()->state(), QMovie::NotRunning);
        QCOMPARE(listed(table(*window)),
                 (QStringList{"Buste paga", "Contratti", "Fatture attive", "Fatture passive", "Verbali di assemblea"}));
        QVERIFY(window->isVisible());
    }

    // An expired session is repaired without a word; the filter then stays
    // within the profile ("Documenti personali" is the same user's other profile).
    void expiredSessionIsRepairedAndTheFilterStaysInTheProfile()
    {
        QVERIFY(m_service->expireSessions());
        auto window = openWindow();
        QVERIFY(loaded(*window));
        QVERIFY2(m_prompts->count() == 0, qPrintable(m_prompts->describe().join('\n')));
        QCOMPARE(table(*window)->model()->rowCount(), 5);

        QTest::keyClicks(search(*window), "ATTUR");
        QCOMPARE(listed(table(*window)), (QStringList{"Fatture attive", "Fatture passive"}));
        search(*window)->setText("Documenti");
        QCOMPARE(table(*window)->model()->rowCount(), 0);
        search(*window)->clear();
        QCOMPARE(table(*window)->model()->rowCount(), 5);
    }

    void indiciOpensTheIndexesOfTheSelectedClass()
    {
        auto window = openWindow();
        QVERIFY(loaded(*window));
        QTableView *view = table(*window);

        // Without a selection the button is off and does nothing.
        QVERIFY(!indici(*window)->isEnabled());
        QMetaObject::invokeMethod(window.get(), "onClickShowMetadataCurrent");
        QVERIFY(!window->metadataWindow());

        search(*window)->setText("Contratti");
        view->selectionModel()->setCurrentIndex(view->model()->index(0, ClassListModel::ColName),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(indici(*window)->isEnabled());
        QTest::mouseClick(indici(*window), Qt::LeftButton);
        MetadatiCategories *indexes = window->metadataWindow();
        QVERIFY(indexes);
        QCOMPARE(indexes->parent(), window.get());
        QVERIFY(indexes->isModal() && indexes->isVisible());
        QCOMPARE(indexes->idFolder(), 103);
        QCOMPARE(indexes->windowTitle(), QStringLiteral("Indici della classe Contratti"));
        QCOMPARE(indexes->model()->rowCount(), 4);
        indexes->accept();

        // Changing the filter drops the selection, and the button goes off again.
        search(*window)->setText("Fatture");
        QVERIFY(!view->selectionModel()->hasSelection());
        QVERIFY(!indici(*window)->isEnabled());

        // A double click opens the class of the row clicked.
        QModelIndex row;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            if (view->model()->index(r, ClassListModel::ColName).data() == QStringLiteral("Fatture passive"))
                row = view->model()->index(r, ClassListModel::ColName);
        QVERIFY(row.isValid());
        emit view->doubleClicked(row);
        QPointer<MetadatiCategories> second = window->metadataWindow();
        QVERIFY(second && second != indexes);
        QCOMPARE(second->idFolder(), 102);
        QCOMPARE(second->className(), QStringLiteral("Fatture passive"));
    }

    void failedSynchronisationReportsAndCloses()
    {
        QVERIFY(m_service->failNext("syncfolder", "35", "Servizio momentaneamente non disponibile"));
        auto window = openWindow();
        QSignalSpy rejected(window.get(), &QDialog::rejected);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 15000);
        QCOMPARE(m_prompts->describe(), QStringList{"critical|Errore|Servizio momentaneamente non disponibile"});
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!loading(*window)->isVisible());
        QCOMPARE(loading(*window)->movie()->state(), QMovie::NotRunning);
        QCOMPARE(table(*window)->model()->rowCount(), 0);
    }
};

TAVREL_TEST_MAIN(TestCategorie)
#include "tst_categorie.moc"
