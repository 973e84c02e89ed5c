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
const char *const kProfile = "PRF-AZIENDA";

void exec(const QString &sql)
{
    Database database;
    database.openDB();
    {
        QSqlQuery query(database.db);
        if (!query.exec(sql))
            qFatal("statement failed: %s", qPrintable(sql));
    }
    database.closeDB();
}

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
private:
    std::unique_ptr<RefServiceFixture> m_service;
    std::unique_ptr<SessionCookieJar> m_jar;

    // Signs "demo" in on the shared session, as the main window does.
    bool signIn()
    {
        m_jar = std::make_unique<SessionCookieJar>();
        KVWConn conn(m_jar.get());
        QSignalSpy ok(&conn, &KVWConn::loginSuccessful);
        conn.login("demo", "Tavrel2026", false);
        if (!ok.wait(15000))
            return false;
        m_jar->setCredentials("demo", "Tavrel2026");
        return true;
    }

    // A Categorie window on the demo company profile, shown and synchronising.
    std::unique_ptr<Categorie> openWindow()
    {
        auto window = std::make_unique<Categorie>(m_jar.get(), kProfile, "Archivio aziendale");
        window->show();
        window->syncCategorie();
        return window;
    }

    static QTableView *table(Categorie *w) { return w->findChild<QTableView *>("twCategorie"); }
    static QPushButton *indici(Categorie *w) { return w->findChild<QPushButton *>("btmMetadati"); }
    static QLabel *loading(Categorie *w) { return w->findChild<QLabel *>("lblLoading"); }

private slots:
    void init()
    {
        QDir(Database::dataDirectory()).removeRecursively();
        m_service = std::make_unique<RefServiceFixture>();
        QVERIFY2(m_service->start(), qPrintable(m_service->errorString()));
        Setting().saveSetting("url", m_service->baseUrl());
        QVERIFY(signIn());
        // What the window shows must come from its own synchronisation.
        exec("DELETE FROM folders");
    }

    void cleanup()
    {
        m_jar.reset();
        m_service.reset();
    }

    void listsTheProfileAfterItsOwnSynchronisation()
    {
        QVERIFY(m_service->delayNext(1500));
        auto window = openWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("Classi (Archivio aziendale)"));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QCOMPARE(window->findChild<QLineEdit *>("leSearch")->placeholderText(),
                 QStringLiteral("Inserisci un parametro di ricerca"));

        // Busy and empty while the synchronisation runs.
        QVERIFY(loading(window.get())->isVisible());
        QVERIFY(loading(window.get())->movie());
        QCOMPARE(loading(window.get())->movie()->state(), QMovie::Running);
        QCOMPARE(table(window.get())->model()->rowCount(), 0);
        QVERIFY(!indici(window.get())->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(!loading(window.get())->isVisible(), 15000);
        QCOMPARE(loading(window.get())->movie()->state(), QMovie::NotRunning);
        QCOMPARE(listed(table(window.get())),
                 (QStringList{"Buste paga", "Contratti", "Fatture attive", "Fatture passive", "Verbali di assemblea"}));
        QVERIFY(window->isVisible());
    }

    void nameFilterStaysWithinTheProfile()
    {
        auto window = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(!loading(window.get())->isVisible(), 15000);
        auto *search = window->findChild<QLineEdit *>("leSearch");

        QTest::keyClicks(search, "ATTUR");
        QCOMPARE(listed(table(window.get())), (QStringList{"Fatture attive", "Fatture passive"}));
        // "Documenti personali" belongs to the other profile of the same user.
        search->setText("Documenti");
        QCOMPARE(table(window.get())->model()->rowCount(), 0);
        search->setText("di assemblea' OR '1'='1");
        QCOMPARE(table(window.get())->model()->rowCount(), 0);
        search->setText("l'");
        QCOMPARE(table(window.get())->model()->rowCount(), 0);
        search->clear();
        QCOMPARE(table(window.get())->model()->rowCount(), 5);
    }

    void indiciOpensTheIndexesOfTheSelectedClass()
    {
        auto window = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(!loading(window.get())->isVisible(), 15000);
        QTableView *view = table(window.get());

        // Without a selection the button is off and does nothing.
        QVERIFY(!indici(window.get())->isEnabled());
        QMetaObject::invokeMethod(window.get(), "onClickShowMetadataCurrent");
        QVERIFY(!window->metadataWindow());

        window->findChild<QLineEdit *>("leSearch")->setText("Contratti");
        const QModelIndex contratti = view->model()->index(0, ClassListModel::ColName);
        view->selectionModel()->setCurrentIndex(contratti, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(indici(window.get())->isEnabled());
        QTest::mouseClick(indici(window.get()), Qt::LeftButton);

        MetadatiCategories *indexes = window->metadataWindow();
        QVERIFY(indexes);
        QCOMPARE(indexes->parent(), window.get());
        QVERIFY(indexes->isModal());
        QVERIFY(indexes->isVisible());
        QCOMPARE(indexes->idFolder(), 103);
        QCOMPARE(indexes->windowTitle(), QStringLiteral("Indici della classe Contratti"));
        QCOMPARE(indexes->model()->rowCount(), 4);
        indexes->accept();

        // Changing the filter drops the selection, and the button goes off again.
        window->findChild<QLineEdit *>("leSearch")->setText("Fatture");
        QVERIFY(!view->selectionModel()->hasSelection());
        QVERIFY(!indici(window.get())->isEnabled());

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
        PromptRecorder prompts;
        QVERIFY(m_service->failNext("syncfolder", "35", "Servizio momentaneamente non disponibile"));
        auto window = openWindow();
        QSignalSpy accepted(window.get(), &QDialog::accepted);
        QSignalSpy rejected(window.get(), &QDialog::rejected);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 15000);
        QCOMPARE(prompts.describe(), QStringList{"critical|Errore|Servizio momentaneamente non disponibile"});
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!loading(window.get())->isVisible());
        QCOMPARE(loading(window.get())->movie()->state(), QMovie::NotRunning);
        QCOMPARE(table(window.get())->model()->rowCount(), 0);
    }

    void expiredSessionIsRepairedAndTheListStillLoads()
    {
        PromptRecorder prompts;
        QVERIFY(m_service->expireSessions());
        auto window = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(!loading(window.get())->isVisible(), 15000);
        QVERIFY2(prompts.count() == 0, qPrintable(prompts.describe().join('\n')));
        QCOMPARE(table(window.get())->model()->rowCount(), 5);
        QVERIFY(window->isVisible());
    }
};

TAVREL_TEST_MAIN(TestCategorie)
#include "tst_categorie.moc"
