// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A user's day with the real windows against the reference service: sign in,
// preserve a file handed over by another program (one index value rejected
// first), find it, restore it, rectify it, look at its history, exhibit it,
// change the password, sign out and sign in again. Each step leaves a
// screenshot in <build>/tests/wholeroad-<platform>/.

#include "admin/changepwddialog.h"
#include "browse/coremain.h"
#include "retrieve/historyfile.h"
#include "service/kvdialoglogin.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QProcess>
#include <QPushButton>
#include <QUrlQuery>

using namespace conservetest;

namespace {
template <typename T>
T *topLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<T *>(w); found && found->isVisible())
            return found;
    return nullptr;
}

} // namespace

class TestWholeRoad : public QObject
{
    Q_OBJECT

    RefServiceFixture service{QStringLiteral(TAVREL_FIXTURES_DIR "/wholeroad_seed.json")};
    QString shots;
    int step = 0;

    void shot(QWidget *window, const QString &name)
    {
        QCoreApplication::processEvents();
        window->grab().save(QStringLiteral("%1/%2-%3.png").arg(shots).arg(++step, 2, 10, QLatin1Char('0')).arg(name));
    }

    // The main window re-synchronises after a preservation dialog closes; its
    // list is rebuilt when that ends.
    static bool waitSynced(CoreMain &window)
    {
        auto *loading = child<QLabel>(&window, "lblLoading");
        return QTest::qWaitFor([&] { return !loading->movie() || loading->movie()->state() == QMovie::NotRunning; },
                               20000);
    }

    bool signIn(CoreMain &window, const QString &password)
    {
        if (!window.loginDialog()->isVisible())
            window.setVisible(true);
        shot(window.loginDialog(), "login");
        return signInThroughDialog(window, "carla", password);
    }

private slots:
    void initTestCase()
    {
        shots = QCoreApplication::applicationDirPath() + "/wholeroad-" + QGuiApplication::platformName();
        QDir(shots).removeRecursively();
        QVERIFY(QDir().mkpath(shots));
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        Setting().saveSetting("url", service.baseUrl());
    }

    void aDayWithTavrelLite()
    {
        PromptRecorder prompts;
        UrlCatcher pages;
        CoreMain window;
        window.resize(1050, 671);
        QVERIFY(signIn(window, "Registro2026"));
        shot(&window, "signed-in");

        // Another program hands over a file.
        const QString original = QDir::tempPath() + "/fattura marzo 2013.txt";
        writeFile(original, "Fattura n. WR-77 del 05/03/2013\nImporto: 12,50 euro\n");
        QCOMPARE(QProcess::execute(TAVREL_SEND_BIN, {"conserva", original}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.conserveDialog(), 10000);
        ConservaFileDialog *dialog = window.conserveDialog();

        // Class, upload, index values (one rejected first), preservation.
        QTRY_VERIFY_WITH_TIMEOUT(selectClass(dialog, "Fatture clienti"), 20000);
        shot(dialog, "class-chosen");
        click(dialog, "btmStartUpload");
        QTRY_COMPARE_WITH_TIMEOUT(dialog->currentPage(), int(ConservaFileDialog::PageIndexes), 20000);
        setValue(dialog, "2", "WR-77");
        setValue(dialog, "9", "dodici");
        setValue(dialog, "10", "05/03/2013");
        prompts.clear();
        click(dialog, "btmConserva");
        QTRY_VERIFY_WITH_TIMEOUT(dialog->indexLabel("9")->styleSheet() == "color:red;", 20000);
        shot(dialog, "value-rejected");
        setValue(dialog, "9", "12,50");
        click(dialog, "btmConserva");
        QTRY_COMPARE_WITH_TIMEOUT(dialog->currentPage(), int(ConservaFileDialog::PageSuccess), 20000);
        shot(dialog, "preserved");
        click(dialog, "btmClose4");
        QTRY_VERIFY_WITH_TIMEOUT(!window.conserveDialog(), 10000);
        QVERIFY(waitSynced(window));

        // Found by one of its index values.
        auto *files = child<QTableView>(&window, "tbwFile");
        child<QLineEdit>(&window, "leSearch")->setText("WR-77");
        QTRY_COMPARE_WITH_TIMEOUT(files->model()->rowCount(), 1, 20000);
        files->selectRow(0);
        QTRY_COMPARE(window.selectedFileData(0), fileSha1(original));
        shot(&window, "found");
        // Signed in, preserved and searched: the catalogue holds its own
        // schema's objects only (the search index lives beside it).
        QCOMPARE(catalogueValue("SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master "
                                "WHERE name NOT LIKE 'sqlite_%' ORDER BY name)")
                     .toString(),
                 "buckets dbversion files folders metadati metadati_values metadati_values_complete "
                 "metadati_values_index policies settings stato_metadato tipo_metadato tipo_required");

        // Restored: the same bytes.
        const QString restored = QDir::tempPath() + "/ripristinata.txt";
        prompts.answerNext(restored);
        click(&window, "btmRipristina");
        QTRY_COMPARE_WITH_TIMEOUT(fileSha1(restored), fileSha1(original), 20000);

        // Rectified with a corrected version.
        const QString corrected = QDir::tempPath() + "/fattura marzo 2013 corretta.txt";
        writeFile(corrected, "Fattura n. WR-77 del 05/03/2013\nImporto: 12,50 euro (IVA inclusa)\n");
        prompts.answerNext(corrected);
        click(&window, "btmSostituisci");
        QTRY_VERIFY_WITH_TIMEOUT(window.conserveDialog(), 10000);
        ConservaFileDialog *rectify = window.conserveDialog();
        QTRY_COMPARE_WITH_TIMEOUT(rectify->currentPage(), int(ConservaFileDialog::PageIndexes), 20000);
        shot(rectify, "rectification");
        click(rectify, "btmConserva");
        QTRY_COMPARE_WITH_TIMEOUT(rectify->currentPage(), int(ConservaFileDialog::PageSuccess), 20000);
        click(rectify, "btmClose4");
        QTRY_VERIFY_WITH_TIMEOUT(!window.conserveDialog(), 10000);
        QVERIFY(waitSynced(window));

        // The list now holds the new version; its history holds both.
        child<QLineEdit>(&window, "leSearch")->clear();
        child<QLineEdit>(&window, "leSearch")->setText("WR-77");
        QTRY_COMPARE_WITH_TIMEOUT(files->model()->rowCount(), 1, 20000);
        files->selectRow(0);
        QTRY_COMPARE(window.selectedFileData(0), fileSha1(corrected));
        click(&window, "btmStoria");
        HistoryFile *history = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((history = topLevel<HistoryFile>()), 10000);
        auto *versions = child<QTableView>(history, "tbwListHistory");
        QTRY_COMPARE_WITH_TIMEOUT(versions->model() ? versions->model()->rowCount() : 0, 2, 20000);
        shot(history, "history");
        history->close();

        // Exhibited: the service's page with a fresh code.
        prompts.clear();
        QVERIFY(!window.selectedFileData(6).isEmpty());
        click(&window, "btmEsibisci");
        QTRY_COMPARE_WITH_TIMEOUT(pages.opened.size() + prompts.count(), 1, 20000);
        QVERIFY2(prompts.count() == 0, qPrintable(prompts.describe().join('\n')));
        QVERIFY(!QUrlQuery(pages.opened.first()).queryItemValue("unique_code").isEmpty());

        // New password, sign out, sign in with it.
        window.onClickChangePassword();
        ChangePwdDialog *change = window.changePasswordDialog();
        QVERIFY(change && change->isVisible());
        child<QLineEdit>(change, "txtOldPassword")->setText("Registro2026");
        child<QLineEdit>(change, "txtNewPwd")->setText("Nuova2027x");
        child<QLineEdit>(change, "txtConfirmPwd")->setText("Nuova2027x");
        shot(change, "password");
        prompts.clear();
        click(change, "btmSalva");
        QTRY_VERIFY_WITH_TIMEOUT(prompts.count() > 0 && prompts.last().kind == Prompts::Kind::Information, 20000);
        QTRY_VERIFY(!window.changePasswordDialog());

        click(&window, "btmLogout");
        QVERIFY(!window.isVisible());
        QVERIFY(signIn(window, "Nuova2027x"));
        shot(&window, "signed-in-again");
    }
};

TAVREL_TEST_MAIN(TestWholeRoad)
#include "tst_wholeroad.moc"
