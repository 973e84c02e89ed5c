// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The update dialog: cancelling before and during the download, a download that
// fails, a package that cannot be written (nothing half-written is left), and a
// successful update that leaves the package, opens it and quits the client.

#include "service/dialogupdate.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {
QStringList packages()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("kvw_*")}, QDir::Files);
}

QPushButton *button(DialogUpdate &dialog, const char *name)
{
    return dialog.findChild<QPushButton *>(QLatin1String(name));
}

// Starts the update in `dialog`; returns the failure it reports (empty if none comes).
QString failureOf(DialogUpdate &dialog)
{
    QSignalSpy failure(&dialog, &DialogUpdate::updateFailure);
    button(dialog, "pbAggiorna")->click();
    return failure.wait(20000) ? failure.at(0).at(0).toString() : QString();
}
} // namespace

class TestDialogUpdate : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RefServiceFixture> m_service;
    QByteArray m_package;
    QString m_opened; // written by the stand-in for xdg-open

private slots:
    void initTestCase()
    {
        // A package of a few megabytes, so the download is still running when
        // the test cancels it, and larger than the file-size limit used below.
        m_package.resize(4 * 1024 * 1024);
        for (int i = 0; i < m_package.size(); ++i)
            m_package[i] = char((i * 131) ^ (i >> 9));
        const QString packageFile = TestEnv::instance()->root() + QStringLiteral("/package.zip");
        QFile file(packageFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_package);
        file.close();

        m_service = std::make_unique<RefServiceFixture>();
        QVERIFY2(m_service->start({QStringLiteral("--update-package"), packageFile}),
                 qPrintable(m_service->errorString()));
        Setting().saveSetting(QStringLiteral("url"), m_service->baseUrl());

        // The desktop opener is replaced by a script that records its argument.
        const QString bin = TestEnv::instance()->root() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        m_opened = TestEnv::instance()->root() + QStringLiteral("/opened.txt");
        QFile opener(bin + QStringLiteral("/xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\n").arg(m_opened).toUtf8());
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(bin) + ':' + qgetenv("PATH"));
    }

    void cancellingTheDownloadLeavesNothing()
    {
        // Cancelling before the download is checked with the connection (tst_kvwconn).
        DialogUpdate dialog;
        QSignalSpy failure(&dialog, &DialogUpdate::updateFailure);
        QCOMPARE(dialog.windowTitle(), "Aggiornamento applicazione");
        // Only a title bar: the dialog is left through its buttons.
        QVERIFY(dialog.windowFlags() & Qt::WindowTitleHint);
        QVERIFY(!(dialog.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint)));
        auto *progress = dialog.findChild<QProgressBar *>("progressBar");
        QVERIFY(progress->isHidden());
        dialog.show();
        button(dialog, "pbAggiorna")->click();
        QVERIFY(!button(dialog, "pbAggiorna")->isEnabled() && progress->isVisible());
        // The aborted download reports its own error, once.
        button(dialog, "pbAnnulla")->click();
        QTRY_COMPARE(failure.count(), 1);
        QVERIFY(!failure.at(0).at(0).toString().isEmpty());
        QVERIFY(failure.at(0).at(0).toString() != "Aggiornamento annullato");
        QVERIFY(button(dialog, "pbAggiorna")->isEnabled() && !dialog.isVisible());
        QVERIFY(!failure.wait(500));
        QCOMPARE(packages(), QStringList());
    }

    void failedDownloadsLeaveNothing()
    {
        // The address comes from the "url" setting: here nothing listens there.
        {
            Setting().saveSetting("url", "http://127.0.0.1:1");
            const auto restore = qScopeGuard([this] { Setting().saveSetting("url", m_service->baseUrl()); });
            DialogUpdate dialog;
            dialog.show();
            QVERIFY(!failureOf(dialog).isEmpty());
            QVERIFY(!dialog.isVisible());
        }
        const QString message = "Impossibile salvare il file di aggiornamento";
        {
            // No usable temporary directory (the package must not land anywhere else).
            const QByteArray tmp = qgetenv("TMPDIR");
            const auto restore = qScopeGuard([tmp] { qputenv("TMPDIR", tmp); });
            qputenv("TMPDIR", QFile::encodeName(TestEnv::instance()->root() + "/nessuna"));
            DialogUpdate dialog;
            QCOMPARE(failureOf(dialog), message);
            QVERIFY(dialog.packagePath().isEmpty());
        }
        {
            // The disk fills up half-way: no file of this process may grow past
            // 512 KiB while the package downloads.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit saved{};
            getrlimit(RLIMIT_FSIZE, &saved);
            DialogUpdate dialog;
            rlimit small = saved;
            small.rlim_cur = 512 * 1024;
            setrlimit(RLIMIT_FSIZE, &small);
            const QString failure = failureOf(dialog);
            setrlimit(RLIMIT_FSIZE, &saved);
            QCOMPARE(failure, message);
        }
        QCOMPARE(packages(), QStringList());
    }

    // Last: a successful update quits the event loop.
    void successfulUpdateOpensThePackageAndQuits()
    {
        DialogUpdate dialog;
        QSignalSpy failure(&dialog, &DialogUpdate::updateFailure);
        dialog.show();
        QTimer::singleShot(0, &dialog, [&] { button(dialog, "pbAggiorna")->click(); });
        QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(7); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(failure.count(), 0);

        const QStringList left = packages();
        QCOMPARE(left.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^kvw_[A-Za-z0-9]{6}\\.zip$")).match(left.first()).hasMatch());
        const QString path = QDir(QDir::tempPath()).filePath(left.first());
        QCOMPARE(dialog.packagePath(), path);
        QFile package(path);
        QVERIFY(package.open(QIODevice::ReadOnly));
        QVERIFY(package.readAll() == m_package);
        // xdg-open was started detached with the package's full path.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_opened).size() > 0, 10000);
        QFile opened(m_opened);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(opened.readAll()), path);
    }
};

TAVREL_TEST_MAIN(TestDialogUpdate)
#include "tst_dialogupdate.moc"
