// The documents page of the real main window, signed in to the reference
// service with the demo catalogue.
#include "browse/coremain.h"
#include "browse/dateformatdelegate.h"
#include "browse/filelistquery.h"
#include "browse/htmlitemdelegate.h"
#include "browse/listfiledelegate.h"
#include "browse/metadatadetaildelegate.h"
#include "service/kvdialoglogin.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>

class TestListFile : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    PromptRecorder *prompts = nullptr;
    CoreMain *window = nullptr;
    QTableView *table = nullptr;

    bool signIn(const QString &user, const QString &password)
    {
        return signInThroughDialog(*window, user, password);
    }

    // The shown texts of a column, top to bottom, without markup.
    QStringList column(int column)
    {
        QStringList out;
        QAbstractItemModel *model = table->model();
        for (int row = 0; row < model->rowCount(); ++row)
            out << model->data(model->index(row, column), ListFileDelegate::PlainRole).toString();
        return out;
    }

    QStringList detailKeys()
    {
        QStringList out;
        MetaDataDetailDelegate *details = window->fileDetailModel();
        for (int row = 0; row < details->rowCount(); ++row)
            out << details->data(details->index(row, 1)).toString() + "=" + details->data(details->index(row, 2)).toString();
        return out;
    }

    void search(const QString &text)
    {
        QLineEdit *edit = child<QLineEdit>(window, "leSearch");
        edit->clear();
        // Typed where the keyboard can type it; the last character gives the final text.
        bool ascii = true;
        for (const QChar c : text)
            ascii = ascii && c.unicode() < 128;
        if (ascii)
            QTest::keyClicks(edit, text);
        else
            edit->setText(text);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        QDir(Database::dataDirectory()).removeRecursively();
        Setting().saveSetting("url", service.baseUrl());
        prompts = new PromptRecorder;
        window = new CoreMain;
        table = child<QTableView>(window, "tbwFile");
        // Before sign-in the details are closed and the file buttons hidden.
        QCOMPARE(child<QPushButton>(window, "btmHideDetail")->text(), QStringLiteral("Mostra Dettagli"));
        QVERIFY(child<QTableView>(window, "tbwMetadati")->isHidden());
        QVERIFY(qobject_cast<HTMLItemDelegate *>(table->itemDelegate()));
        QVERIFY(signIn("demo", "Tavrel2026"));
        QCOMPARE(window->currentBucketId(), QStringLiteral("PRF-AZIENDA"));
    }

    void cleanupTestCase()
    {
        delete window;
        delete prompts;
    }

    void listOfTheProfileNewestFirst()
    {
        QCOMPARE(column(FileListQuery::FileName),
                 (QStringList{"contratto-manutenzione.txt", "fattura-2026-0142.txt"}));
        QCOMPARE(column(FileListQuery::Path),
                 (QStringList{"/home/demo/Documenti/Contratti/", "/home/demo/Documenti/Fatture/"}));
        QCOMPARE(column(FileListQuery::ClassName), (QStringList{"Contratti", "Fatture attive"}));
        QCOMPARE(column(FileListQuery::Preserved), (QStringList{"2026-01-29 08:15:40", "2026-01-15 10:02:11"}));
        QVERIFY(qobject_cast<DateFormatDelegate *>(table->itemDelegateForColumn(FileListQuery::Preserved)));

        QStringList headers;
        for (int section = 0; section <= FileListQuery::ClassId; ++section)
            headers << table->model()->headerData(section, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"Hash", "File", "Computer name", "Percorso", "Classi", "Conservato il",
                                       "Token", "IdFolder"}));
        for (int section = 0; section < table->model()->columnCount(); ++section)
            QCOMPARE(table->isColumnHidden(section), section == 0 || section >= FileListQuery::Token);
        QVERIFY(!table->horizontalHeader()->isHidden());
        QVERIFY(child<QWidget>(window, "hwBottoniera")->isHidden());
        QCOMPARE(window->selectedFileData(FileListQuery::FileName), QString());
    }

    void searchSelectsTheFirstMatchAndShowsItsDetails()
    {
        search("rossi");
        QCOMPARE(column(FileListQuery::FileName), QStringList{"fattura-2026-0142.txt"});
        QVERIFY(!child<QWidget>(window, "hwBottoniera")->isHidden());
        QCOMPARE(detailKeys(), (QStringList{"Token=" + window->selectedFileData(FileListQuery::Token),
                                            "Conservato da=demo", "Conservato il=15/01/2026 10:02:11",
                                            "Computer name=ufficio-amministrazione",
                                            "Ultima modifica=15/01/2026 09:30:00", "Numero fattura=2026/0142",
                                            "Data fattura=15/01/2026", "Importo totale=1.220,00",
                                            "Cliente=Rossi Forniture S.r.l."}));
        QVERIFY(!window->selectedFileData(FileListQuery::Token).isEmpty());
        QCOMPARE(window->selectedFileData(FileListQuery::FileName), QStringLiteral("fattura-2026-0142.txt"));
        QCOMPARE(window->selectedFileData(FileListQuery::Path), QStringLiteral("/home/demo/Documenti/Fatture/"));
        QCOMPARE(window->selectedFileData(FileListQuery::ClassId), QStringLiteral("101"));
        QCOMPARE(window->selectedFileData(FileListQuery::Hash).size(), 40);
        // The value holding the search text is marked; the details stay closed.
        MetaDataDetailDelegate *details = window->fileDetailModel();
        QCOMPARE(details->data(details->index(8, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
        QVERIFY(child<QTableView>(window, "tbwMetadati")->isHidden());
    }

    void searchWordsAndHighlight()
    {
        search("ufficio");
        QCOMPARE(column(FileListQuery::FileName).size(), 2);
        const QModelIndex computer = table->model()->index(0, FileListQuery::ComputerName);
        QCOMPARE(computer.data().toString(),
                 QStringLiteral("<span style=\"background-color:yellow\">ufficio</span>-legale"));

        search("legale contratto");
        QCOMPARE(column(FileListQuery::FileName), QStringList{"contratto-manutenzione.txt"});
        search(" rossi");
        QCOMPARE(column(FileListQuery::FileName), QStringList{"fattura-2026-0142.txt"});
        search("rossi bianchi");
        QVERIFY(column(FileListQuery::FileName).isEmpty());
        QVERIFY(child<QWidget>(window, "hwBottoniera")->isHidden());
        QCOMPARE(window->selectedFileData(FileListQuery::Hash), QString());

        // Clearing the search lists the whole profile again, without markup.
        child<QLineEdit>(window, "leSearch")->clear();
        QCOMPARE(column(FileListQuery::FileName),
                 (QStringList{"contratto-manutenzione.txt", "fattura-2026-0142.txt"}));
        QCOMPARE(table->model()->index(0, FileListQuery::ComputerName).data().toString(),
                 QStringLiteral("ufficio-legale"));
    }

    void deselectionHidesTheButtonsAndEmptiesTheDetails()
    {
        table->selectRow(1);
        QVERIFY(!child<QWidget>(window, "hwBottoniera")->isHidden());
        QCOMPARE(window->fileDetailModel()->rowCount(), 9);
        table->clearSelection();
        QVERIFY(child<QWidget>(window, "hwBottoniera")->isHidden());
        QCOMPARE(window->fileDetailModel()->rowCount(), 0);
        QCOMPARE(window->selectedFileData(FileListQuery::FileName), QString());
    }

    void detailButtonTogglesTheDetails()
    {
        auto *button = child<QPushButton>(window, "btmHideDetail");
        auto *details = child<QTableView>(window, "tbwMetadati");
        table->selectRow(0);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!details->isHidden());
        QCOMPARE(button->text(), QStringLiteral("Chiudi Dettagli"));
        // A search keeps the details open.
        search("fattura");
        QVERIFY(!details->isHidden());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(details->isHidden());
        QCOMPARE(button->text(), QStringLiteral("Mostra Dettagli"));
        child<QLineEdit>(window, "leSearch")->clear();
    }

    void headerClickSortsAndReverses()
    {
        QHeaderView *header = table->horizontalHeader();
        const QStringList byName{"contratto-manutenzione.txt", "fattura-2026-0142.txt"};
        emit header->sectionClicked(FileListQuery::FileName);
        const QStringList first = column(FileListQuery::FileName);
        emit header->sectionClicked(FileListQuery::FileName);
        const QStringList second = column(FileListQuery::FileName);
        QVERIFY(first == byName || second == byName);
        QCOMPARE(second, QStringList({first.at(1), first.at(0)}));
        // The date column sorts by time, both ways.
        const QStringList newestFirst{"2026-01-29 08:15:40", "2026-01-15 10:02:11"};
        emit header->sectionClicked(FileListQuery::Preserved);
        const QStringList dates = column(FileListQuery::Preserved);
        emit header->sectionClicked(FileListQuery::Preserved);
        QCOMPARE(column(FileListQuery::Preserved), QStringList({dates.at(1), dates.at(0)}));
        QVERIFY(dates == newestFirst || column(FileListQuery::Preserved) == newestFirst);
        // The computer-name column sorts by the text as read.
        emit header->sectionClicked(FileListQuery::ComputerName);
        const QStringList computers = column(FileListQuery::ComputerName);
        QVERIFY(computers == QStringList({"ufficio-amministrazione", "ufficio-legale"})
                || computers == QStringList({"ufficio-legale", "ufficio-amministrazione"}));
    }

    void resizingSharesTheWidthAmongTheShownColumns()
    {
        for (const int windowWidth : {window->minimumSizeHint().width() + 100, window->minimumSizeHint().width() + 400}) {
            window->resize(windowWidth, 700);
            QTRY_COMPARE(window->width(), windowWidth);
            QTest::qWait(20);
            const int width = table->width() / 5 - 5;
            for (int section = FileListQuery::FileName; section <= FileListQuery::Preserved; ++section)
                QCOMPARE(table->columnWidth(section), width);
        }
    }

    void otherProfileAndApostrophe()
    {
        auto *profiles = child<QComboBox>(window, "cbBuckets");
        const int personal = profiles->findData(QStringLiteral("PRF-PERSONALE"));
        QVERIFY(personal >= 0);
        profiles->setCurrentIndex(personal);
        QTRY_COMPARE_WITH_TIMEOUT(column(FileListQuery::FileName), QStringList{"carta-identita.txt"}, 20000);
        search("d'identità");
        QCOMPARE(column(FileListQuery::FileName), QStringList{"carta-identita.txt"});
        search("50%");
        QVERIFY(column(FileListQuery::FileName).isEmpty());
        QVERIFY(prompts->describe().filter("critical").isEmpty());
    }
};

TAVREL_TEST_MAIN(TestListFile)
#include "tst_listfile.moc"
