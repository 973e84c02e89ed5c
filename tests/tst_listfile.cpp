// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The documents page of the real main window, signed in to the reference
// service with the demo catalogue.
#include "browse/coremain.h"
#include "browse/dateformatdelegate.h"
#include "browse/filelistquery.h"
#include "browse/htmlitemdelegate.h"
#include "browse/listfiledelegate.h"
#include "browse/metadatadetaildelegate.h"
#include "store/database.h"
#include "store/setting.h"
#include "support/promptrecorder.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "support/windowtest.h"

#include <QComboBox>
#include <QLabel>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

class TestListFile : public QObject
{
    Q_OBJECT

    RefServiceFixture service;
    PromptRecorder *prompts = nullptr;
    CoreMain *window = nullptr;
    QTableView *table = nullptr;

    const QStringList both{"contratto-manutenzione.txt", "fattura-2026-0142.txt"};

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

    bool buttonsShown() { return !child<QWidget>(window, "hwBottoniera")->isHidden(); }

    // The text of the note `name` over the list or the details, "" while hidden.
    QString note(const char *name)
    {
        auto *label = window->findChild<QLabel *>(QLatin1String(name));
        return label && label->isVisible() ? label->text() : QString();
    }

    // Shown controls of the window that are cut: partly outside it, smaller
    // than the least they need, or a wrapped text shorter than its lines.
    QStringList cutWidgets()
    {
        QStringList cut;
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (!widget->isVisible() || widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))
                continue;
            QSize least = widget->minimumSizeHint();
            if (widget->minimumWidth() > 0)
                least.setWidth(widget->minimumWidth());
            if (widget->minimumHeight() > 0)
                least.setHeight(widget->minimumHeight());
            least = least.boundedTo(widget->maximumSize());
            bool isCut = !window->rect().contains(QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()))
                || widget->width() < least.width() || widget->height() < least.height();
            auto *label = qobject_cast<QLabel *>(widget);
            if (label && label->wordWrap())
                isCut = isCut || label->height() < label->heightForWidth(label->width());
            if (isCut)
                cut << widget->objectName();
        }
        return cut;
    }

    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QRect cell = table->visualRect(table->model()->index(row, FileListQuery::ComputerName));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, cell.center());
    }

    // The text drawn in a cell of `shot` (the table's viewport): the first
    // pixel row with ink (pixels unlike the cell's corner) and the lightness
    // of its darkest ink and of the background.
    struct Ink
    {
        int top = -1;
        int darkest = 255;
        int background = 0;
    };
    Ink inkOf(const QImage &shot, int row, int column)
    {
        // Away from the focus frame and, in the name column, from the icon.
        const QRect cell = table->visualRect(table->model()->index(row, column))
                               .adjusted(column == FileListQuery::FileName ? 24 : 3, 3, -3, -3);
        const QColor background = shot.pixelColor(cell.topLeft());
        Ink ink;
        ink.background = background.lightness();
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (qAbs(c.red() - background.red()) + qAbs(c.green() - background.green())
                        + qAbs(c.blue() - background.blue()) < 90)
                    continue;
                if (ink.top < 0)
                    ink.top = y;
                ink.darkest = qMin(ink.darkest, c.lightness());
            }
        return ink;
    }

    // Clicks the middle of the header of `section`.
    void clickHeader(int section)
    {
        QHeaderView *header = table->horizontalHeader();
        const QPoint middle(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, middle);
    }

    // The column's texts after one click on its header and after a second
    // one, each followed by the order the header's indicator shows ("^" for
    // ascending, "v" for descending; "?" when it shows another column or none).
    QPair<QStringList, QStringList> clickTwice(int section)
    {
        QHeaderView *header = table->horizontalHeader();
        auto indicator = [&] {
            if (!header->isSortIndicatorShown() || header->sortIndicatorSection() != section)
                return QStringLiteral("?");
            return header->sortIndicatorOrder() == Qt::AscendingOrder ? QStringLiteral("^") : QStringLiteral("v");
        };
        clickHeader(section);
        const QStringList first = column(section) << indicator();
        clickHeader(section);
        return {first, column(section) << indicator()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        freshCatalogueFor(service.baseUrl());
        prompts = new PromptRecorder;
        window = new CoreMain;
        table = child<QTableView>(window, "tbwFile");
        QVERIFY(signInThroughDialog(*window, "demo", "Tavrel2026"));
        QCOMPARE(window->currentBucketId(), QStringLiteral("PRF-AZIENDA"));
    }

    void cleanupTestCase()
    {
        delete window;
        delete prompts;
    }

    void listOfTheProfileNewestFirst()
    {
        QCOMPARE(column(FileListQuery::FileName), both);
        QCOMPARE(column(FileListQuery::Path),
                 (QStringList{"/home/demo/Documenti/Contratti/", "/home/demo/Documenti/Fatture/"}));
        QCOMPARE(column(FileListQuery::ClassName), (QStringList{"Contratti", "Fatture attive"}));
        QCOMPARE(column(FileListQuery::Preserved), (QStringList{"2026-01-29 08:15:40", "2026-01-15 10:02:11"}));
        QVERIFY(qobject_cast<HTMLItemDelegate *>(table->itemDelegate()));
        QVERIFY(qobject_cast<DateFormatDelegate *>(table->itemDelegateForColumn(FileListQuery::Preserved)));

        QStringList headers;
        for (int section = 0; section <= FileListQuery::ClassId; ++section)
            headers << table->model()->headerData(section, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"Hash", "File", "Computer name", "Percorso", "Classi", "Conservato il",
                                       "Token", "IdFolder"}));
        for (int section = 0; section < table->model()->columnCount(); ++section)
            QCOMPARE(table->isColumnHidden(section), section == 0 || section >= FileListQuery::Token);
        QVERIFY(!buttonsShown());
        QCOMPARE(window->selectedFileData(FileListQuery::FileName), QString());
    }

    // A search selects its first row and shows its details, the value holding
    // the text marked; the text is marked in the list too, every word must
    // occur, and clearing the search lists the whole profile without markup.
    void searchSelectsAndMarks()
    {
        search("rossi");
        QCOMPARE(column(FileListQuery::FileName), QStringList{"fattura-2026-0142.txt"});
        QVERIFY(buttonsShown());
        const QString token = window->selectedFileData(FileListQuery::Token);
        QVERIFY(!token.isEmpty());
        QCOMPARE(detailKeys(), (QStringList{"Token=" + token, "Conservato da=demo", "Conservato il=15/01/2026 10:02:11",
                                            "Computer name=ufficio-amministrazione",
                                            "Ultima modifica=15/01/2026 09:30:00", "Numero fattura=2026/0142",
                                            "Data fattura=15/01/2026", "Importo totale=1.220,00",
                                            "Cliente=Rossi Forniture S.r.l."}));
        QCOMPARE(window->selectedFileData(FileListQuery::Path), QStringLiteral("/home/demo/Documenti/Fatture/"));
        QCOMPARE(window->selectedFileData(FileListQuery::ClassId), QStringLiteral("101"));
        MetaDataDetailDelegate *details = window->fileDetailModel();
        QCOMPARE(details->data(details->index(8, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
        QVERIFY(child<QTableView>(window, "tbwMetadati")->isHidden());

        search("ufficio");
        QCOMPARE(column(FileListQuery::FileName).size(), 2);
        QCOMPARE(table->model()->index(0, FileListQuery::ComputerName).data().toString(),
                 QStringLiteral("<span style=\"background-color:yellow\">ufficio</span>-legale"));
        search("legale contratto");
        QCOMPARE(column(FileListQuery::FileName), QStringList{"contratto-manutenzione.txt"});
        QCOMPARE(note("lblNoFiles"), QString());
        search("rossi bianchi");
        QVERIFY(column(FileListQuery::FileName).isEmpty());
        QCOMPARE(note("lblNoFiles"), QStringLiteral("Nessun documento corrisponde alla ricerca"));
        QVERIFY(!buttonsShown());
        QCOMPARE(window->selectedFileData(FileListQuery::Hash), QString());

        child<QLineEdit>(window, "leSearch")->clear();
        QCOMPARE(column(FileListQuery::FileName), both);
        QCOMPARE(table->model()->index(0, FileListQuery::ComputerName).data().toString(),
                 QStringLiteral("ufficio-legale"));
    }

    // A click selects a row: file buttons and details follow, every column of
    // the row is written in the selection's text colour, and the texts of all
    // columns stand at one height. Control and a click deselect: no file
    // buttons, no details, but the details button stays and the empty pane
    // says what to do. The details button opens and closes the pane, and a
    // search keeps it open.
    void selectionAndDetails()
    {
        auto *button = child<QPushButton>(window, "btmHideDetail");
        auto *details = child<QTableView>(window, "tbwMetadati");
        clickRow(1);
        QVERIFY(buttonsShown());
        QCOMPARE(window->fileDetailModel()->rowCount(), 9);
        const QImage shot = table->viewport()->grab().toImage();
        QStringList darkInk;
        int highest = 0, lowest = shot.height();
        for (int column = FileListQuery::FileName; column <= FileListQuery::Preserved; ++column) {
            const Ink selected = inkOf(shot, 1, column);
            QVERIFY(selected.top >= 0);
            if (selected.darkest < selected.background - 10)
                darkInk << table->model()->headerData(column, Qt::Horizontal).toString();
            const int top = inkOf(shot, 0, column).top;
            QVERIFY(top >= 0);
            highest = qMax(highest, top);
            lowest = qMin(lowest, top);
        }
        QCOMPARE(darkInk, QStringList());
        QVERIFY2(highest - lowest <= 1, qPrintable(QStringLiteral("text tops from %1 to %2").arg(lowest).arg(highest)));

        clickRow(1, Qt::ControlModifier);
        QVERIFY(!buttonsShown());
        QCOMPARE(window->fileDetailModel()->rowCount(), 0);
        QCOMPARE(window->selectedFileData(FileListQuery::FileName), QString());
        QVERIFY(button->isVisible());
        QCOMPARE(button->text(), QStringLiteral("Mostra Dettagli"));
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(details->isVisible());
        QCOMPARE(note("lblNoDetails"), QStringLiteral("Seleziona un documento per vederne i dettagli"));
        QCOMPARE(button->text(), QStringLiteral("Chiudi Dettagli"));
        clickRow(0);
        QCOMPARE(note("lblNoDetails"), QString());
        search("fattura");
        QVERIFY(!details->isHidden());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(details->isHidden());
        QCOMPARE(button->text(), QStringLiteral("Mostra Dettagli"));
        child<QLineEdit>(window, "leSearch")->clear();
    }

    // The list starts newest first, and its header says so. A click on
    // another header sorts by that column ascending, a second click on it
    // reverses the order; the date column sorts by time and the others by the
    // text as read.
    void headerClickSortsAndReverses()
    {
        QHeaderView *header = table->horizontalHeader();
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), int(FileListQuery::Preserved));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

        const auto names = clickTwice(FileListQuery::FileName);
        QCOMPARE(names.first, QStringList(both) << "^");
        QCOMPARE(names.second, (QStringList{both.at(1), both.at(0), "v"}));
        const auto dates = clickTwice(FileListQuery::Preserved);
        QCOMPARE(dates.first, (QStringList{"2026-01-15 10:02:11", "2026-01-29 08:15:40", "^"}));
        QCOMPARE(dates.second, (QStringList{"2026-01-29 08:15:40", "2026-01-15 10:02:11", "v"}));
        const auto byComputer = clickTwice(FileListQuery::ComputerName);
        QCOMPARE(byComputer.first, (QStringList{"ufficio-amministrazione", "ufficio-legale", "^"}));
        QCOMPARE(byComputer.second, (QStringList{"ufficio-legale", "ufficio-amministrazione", "v"}));
    }

    // The window fits a 1024x768 screen, frame and panel included, with
    // nothing cut. The five shown columns share the table's width. However
    // tall the details of the file a search selects, neither table scrolls
    // sideways and the file columns keep their widths.
    void resizingSharesTheWidthAmongTheShownColumns()
    {
        window->resize(1000, 700);
        QTRY_COMPARE(window->size(), QSize(1000, 700));
        QCOMPARE(cutWidgets(), QStringList());

        for (const int windowWidth : {window->minimumSizeHint().width() + 100, window->minimumSizeHint().width() + 400}) {
            window->resize(windowWidth, 700);
            QTRY_COMPARE(window->width(), windowWidth);
            QTest::qWait(20);
            const int width = table->width() / 5 - 5;
            for (int section = FileListQuery::FileName; section <= FileListQuery::Preserved; ++section)
                QCOMPARE(table->columnWidth(section), width);
        }

        window->resize(1000, window->minimumSizeHint().height());
        auto *details = child<QTableView>(window, "tbwMetadati");
        auto *button = child<QPushButton>(window, "btmHideDetail");
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(details->isVisible());
        const int fileColumn = table->columnWidth(FileListQuery::FileName);
        search("rossi");
        QTRY_VERIFY(details->verticalScrollBar()->isVisible());
        QVERIFY(!details->horizontalScrollBar()->isVisible());
        QCOMPARE(details->columnWidth(1) + details->columnWidth(2), details->viewport()->width());
        QVERIFY(!table->horizontalScrollBar()->isVisible());
        QCOMPARE(table->columnWidth(FileListQuery::FileName), fileColumn);
        child<QLineEdit>(window, "leSearch")->clear();
        QTest::mouseClick(button, Qt::LeftButton);
        window->resize(1000, 700);
    }

    // The other profile's list; an apostrophe and a "%" typed in the search
    // neither fail nor match everything.
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
