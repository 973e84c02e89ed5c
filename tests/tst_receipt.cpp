// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The receipt of a preserved file (its data from the catalogue, the PDF, a
// failed write) and the speed and time left that progress windows show.

#include "app/transferrate.h"
#include "conserve/receiptwriter.h"
#include "support/promptrecorder.h"
#include "support/testenv.h"
#include "tst_conserva_support.h"

#include <QDir>
#include <QStandardPaths>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

using namespace conservetest;

class TestReceipt : public QObject
{
    Q_OBJECT

private slots:
    void speedAndTimeLeft_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<qint64>("left");
        QTest::addColumn<QString>("shown");
        QTest::newRow("unknown") << 0.0 << qint64(1000) << QString();
        QTest::newRow("negative") << -5.0 << qint64(1000) << QString();
        QTest::newRow("not a number") << std::nan("") << qint64(1000) << QString();
        QTest::newRow("done") << 850.0 << qint64(0) << QStringLiteral("850 B/s");
        QTest::newRow("under a byte") << 0.4 << qint64(0) << QStringLiteral("1 B/s");
        QTest::newRow("bytes rounding to a kB") << 999.6 << qint64(0) << QStringLiteral("1,0 kB/s");
        QTest::newRow("kB") << 12345.0 << qint64(0) << QStringLiteral("12,3 kB/s");
        QTest::newRow("kB rounding to 100") << 99960.0 << qint64(0) << QStringLiteral("100 kB/s");
        QTest::newRow("kB rounding to a MB") << 999960.0 << qint64(0) << QStringLiteral("1,0 MB/s");
        QTest::newRow("GB") << 1.5e9 << qint64(0) << QStringLiteral("1,5 GB/s");
        QTest::newRow("beyond GB") << 2.5e12 << qint64(0) << QStringLiteral("2500 GB/s");
        QTest::newRow("a moment") << 1e6 << qint64(1) << QStringLiteral("1,0 MB/s · circa 1 s rimanente");
        QTest::newRow("seconds") << 1e6 << qint64(44.2e6) << QStringLiteral("1,0 MB/s · circa 45 s rimanenti");
        QTest::newRow("59.2 s") << 1e6 << qint64(59.2e6) << QStringLiteral("1,0 MB/s · circa 1 min rimanente");
        QTest::newRow("89 s") << 1e6 << qint64(89e6) << QStringLiteral("1,0 MB/s · circa 1 min rimanente");
        QTest::newRow("90 s") << 1e6 << qint64(90e6) << QStringLiteral("1,0 MB/s · circa 2 min rimanenti");
        QTest::newRow("two minutes") << 12.3e6 << qint64(12.3e6 * 120) << QStringLiteral("12,3 MB/s · circa 2 min rimanenti");
        QTest::newRow("almost an hour") << 1e3 << qint64(3599e3) << QStringLiteral("1,0 kB/s · circa 1 h rimanente");
        QTest::newRow("hours and minutes") << 1e3 << qint64(4800e3) << QStringLiteral("1,0 kB/s · circa 1 h 20 min rimanenti");
        QTest::newRow("hours") << 1e3 << qint64(7200e3) << QStringLiteral("1,0 kB/s · circa 2 h rimanenti");
        QTest::newRow("beyond any use") << 1.0 << qint64(4e6) << QStringLiteral("1 B/s");
    }
    void speedAndTimeLeft()
    {
        QFETCH(double, rate);
        QFETCH(qint64, left);
        QFETCH(QString, shown);
        QCOMPARE(TransferRate::describe(rate, left), shown);
    }

    // Nothing during the first second; then a figure that a single fast block
    // barely moves, that follows a lasting change, and that goes away when
    // nothing moves for a while.
    void smoothedSpeed()
    {
        TransferRateEstimator speed;
        speed.start(0);
        qint64 bytes = 0;
        qint64 now = 0;
        const auto run = [&](qint64 untilMs, double bytesPerMs) {
            for (; now < untilMs; now += 50) {
                bytes += qint64(bytesPerMs * 50);
                speed.addSample(bytes, now + 50);
            }
        };
        run(950, 10000); // 10 MB/s
        QCOMPARE(speed.bytesPerSecond(), 0.0);
        run(1000, 10000);
        QVERIFY2(std::abs(speed.bytesPerSecond() - 10e6) < 0.1e6, qPrintable(QString::number(speed.bytesPerSecond())));
        run(5000, 10000);
        run(5100, 50000); // one block five times as fast
        QVERIFY2(std::abs(speed.bytesPerSecond() - 10e6) < 1.5e6, qPrintable(QString::number(speed.bytesPerSecond())));
        run(20000, 2000); // a lasting slowdown to 2 MB/s
        QVERIFY2(std::abs(speed.bytesPerSecond() - 2e6) < 0.2e6, qPrintable(QString::number(speed.bytesPerSecond())));
        run(24000, 0);
        QVERIFY(speed.bytesPerSecond() > 0);
        run(25100, 0); // five seconds without a byte
        QCOMPARE(speed.bytesPerSecond(), 0.0);
        // Progress again, or a transfer started over: known again only after a second.
        speed.addSample(0, now += 50);
        run(now + 900, 10000);
        QCOMPARE(speed.bytesPerSecond(), 0.0);
    }

    // A receipt built from the catalogue states every field in the PDF, long
    // paths and tokens wrapped within the page; a local copy that changed
    // gives no size.
    void receiptFromTheCatalogue()
    {
        freshCatalogueFor(QStringLiteral("https://conservazione.example.it:8443"));
        const QString folder = TestEnv::instance()->home()
                               + QStringLiteral("/Archivio contabile/2026/Fornitori con un nome molto lungo/"
                                                "sottocartella_senza_spazi_che_deve_andare_a_capo_comunque_0123456789");
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/fattura Rossi & Figli <marzo>.pdf");
        const QByteArray content = QByteArray(12345, 'x') + "fine";
        writeFile(path, content);
        const QString hash = sha1(content);
        const QString token = QStringLiteral("20260305-00A1B2C3D4E5F60718293A4B5C6D7E8F");
        for (const char *sql :
             {"INSERT INTO buckets (idbuckets, description) VALUES ('P-1', 'Archivio di Carla')",
              "INSERT INTO folders (idfolder, name, idbuckets) VALUES (31, 'Fatture clienti', 'P-1')",
              "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) VALUES (2, 31, 'Numero', 1)",
              "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) VALUES (9, 31, 'Importo', 2)",
              "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) VALUES (11, 31, 'Scadenza', 3)",
              "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) VALUES (20, 32, 'Controparte', 1)"})
            catalogueValue(QString::fromLatin1(sql));
        catalogueValue("INSERT INTO files (hash, hash4k, fullpath, token, folderid, username, tsconserve, computer_name) "
                       "VALUES (?, ?, ?, ?, 31, 'carla', '05/03/2026 14:07:09', 'ufficio-contabilita')",
                       {hash, sha1(content.left(4096)), path, token});
        catalogueValue("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (2, 'F-1 & <bis>', ?)", {hash});
        catalogueValue("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (9, '1.234,56', ?)", {hash});
        catalogueValue("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (20, 'altra classe', ?)", {hash});

        const PreservationReceipt receipt = PreservationReceipt::fromCatalogue(hash, 31);
        QCOMPARE(receipt.size, qint64(content.size()));
        const QString pdf = TestEnv::instance()->tmpDir() + QStringLiteral("/ricevuta.pdf");
        QString error;
        QVERIFY2(ReceiptWriter::write(receipt, pdf, &error), qPrintable(error));
        const QString text = pdfText(pdf);
        QCOMPARE(missingFields(text, {{"Nome file", "fattura Rossi & Figli <marzo>.pdf"},
                                      {"Percorso locale", path},
                                      {"Dimensione", "12.349 byte (12,3 kB)"},
                                      {"Impronta SHA-1", hash},
                                      {"Classe", "Fatture clienti"},
                                      {"Profilo", "Archivio di Carla"},
                                      {"Data e ora di conservazione", "05/03/2026 14:07:09"},
                                      {"Token di conservazione", token},
                                      {"Utente", "carla"},
                                      {"Computer", "ufficio-contabilita"},
                                      {"Servizio", "https://conservazione.example.it:8443"},
                                      {"Numero", "F-1 & <bis>"},
                                      {"Importo", "1.234,56"},
                                      {"Scadenza", "—"}}),
                 QStringList());
        QVERIFY(text.contains(QStringLiteral("Ricevutadiconservazione")));
        QVERIFY(!text.contains(QStringLiteral("altraclasse")));
        QVERIFY(!text.contains(QStringLiteral("Versionesostituita")));
        QCOMPARE(ReceiptWriter::defaultFileName(receipt),
                 QStringLiteral("ricevuta-fattura Rossi & Figli <marzo>.pdf-2026-03-05.pdf"));

        writeFile(path, content + "modificato");
        QCOMPARE(PreservationReceipt::fromCatalogue(hash, 31).size, qint64(-1));
        QVERIFY(PreservationReceipt::fromCatalogue(hash, 32).token.isEmpty());
        QCOMPARE(PreservationReceipt::fileNameOf(QStringLiteral("C:\\Documenti\\fattura.pdf")),
                 QStringLiteral("fattura.pdf"));
    }

    // A receipt that cannot be written whole is reported and leaves nothing:
    // not a part of itself, and an older receipt of the same name untouched.
    void failedWrite()
    {
        PreservationReceipt receipt;
        receipt.fileName = QStringLiteral("contratto.txt");
        receipt.token = QStringLiteral("T-1");
        receipt.preservedAt = QStringLiteral("02/02/2026 11:00:00");
        const QString dir = TestEnv::instance()->tmpDir() + QStringLiteral("/ricevute");
        QVERIFY(QDir().mkpath(dir));
        const QString path = dir + QStringLiteral("/ricevuta.pdf");
        writeFile(path, "ricevuta precedente");

        // The file system refuses anything beyond 2000 bytes, half-way through the PDF.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = 2000;
        setrlimit(RLIMIT_FSIZE, &limited);
        QString error;
        const bool written = ReceiptWriter::write(receipt, path, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QVERIFY(!error.isEmpty());
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"ricevuta.pdf"});
        QCOMPARE(QFile(path).size(), qint64(strlen("ricevuta precedente")));

        // Through the file chooser: the documents folder and the default name
        // first; a folder that does not exist is reported in Italian.
        PromptRecorder prompts;
        const QString missing = dir + QStringLiteral("/non esiste/ricevuta");
        prompts.answerNext(missing);
        QCOMPARE(ReceiptWriter::saveAs(nullptr, receipt), QString());
        QCOMPARE(prompts.count(), 2);
        QCOMPARE(prompts.calls().at(0).kind, Prompts::Kind::SaveFile);
        QCOMPARE(prompts.calls().at(0).dir,
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                     + QStringLiteral("/ricevuta-contratto.txt-2026-02-02.pdf"));
        QVERIFY2(prompts.last().text.startsWith("Impossibile salvare la ricevuta in \"" + missing + ".pdf\": "),
                 qPrintable(prompts.last().text));
        QCOMPARE(prompts.last().title, QStringLiteral("Salva ricevuta"));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/non esiste")));
    }
};

TAVREL_TEST_MAIN(TestReceipt)
#include "tst_receipt.moc"
