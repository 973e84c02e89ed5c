// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Preservation of a 1 GiB file through the client's own preservation dialog,
// against the reference service on loopback: "Avanti" fingerprints the file
// and sends it as a streamed multipart upload, until the index form is shown.
//
// Measures the client's peak memory growth over that stretch (the peak
// resident size, reset just before "Avanti") and the longest gap between the
// ticks of a 5 ms timer, that is the longest time the window could not repaint.
//
// BENCH_UPLOAD_MIB (default 1024) sets the file size.
//
// Last line: RESULT growth_mib=X max_stall_ms=Y

#include "app/prompts.h"
#include "conserve/conservafiledialog.h"
#include "conserve/dialoguploadfile.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "bench/procstatus.h"

namespace {

int fail(const char *why)
{
    std::fprintf(stderr, "bench_upload: %s\n", why);
    std::printf("RESULT growth_mib=0 max_stall_ms=0\n");
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    TestEnv env; // private HOME, catalogue and TMPDIR
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const qint64 mib = qEnvironmentVariableIntValue("BENCH_UPLOAD_MIB") > 0
                           ? qEnvironmentVariableIntValue("BENCH_UPLOAD_MIB")
                           : 1024;
    const qint64 size = mib * 1024 * 1024;

    RefServiceFixture service;
    if (!service.start())
        return fail(qPrintable(service.errorString()));
    Setting().saveSetting(QStringLiteral("url"), service.baseUrl());

    // The file: distinct 1 MiB blocks, so the content is not trivially repetitive.
    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("archivio grande.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return fail("cannot write the file");
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qint64 written = 0; written < size; written += block.size()) {
            for (int i = 0; i < block.size(); i += 64)
                std::snprintf(block.data() + i, 64, "%016llx:%046d", (unsigned long long)written, i);
            file.write(block.constData(), qMin<qint64>(block.size(), size - written));
        }
    }

    SessionCookieJar jar;
    {
        KVWConn signIn(&jar);
        QSignalSpy ok(&signIn, &KVWConn::loginSuccessful);
        signIn.login(QStringLiteral("demo"), QStringLiteral("Tavrel2026"), false);
        if (!ok.wait(30000))
            return fail("sign-in failed");
        jar.setCredentials(QStringLiteral("demo"), QStringLiteral("Tavrel2026"));
    }
    QString prompt;
    Prompts::setHandler([&](const Prompts::Request &r) {
        prompt = r.title + QLatin1Char('|') + r.text;
        return QStringLiteral("ok");
    });

    ConservaFileDialog dialog(path, &jar, QStringLiteral("PRF-AZIENDA"), QStringLiteral("Archivio aziendale"),
                              QString(), false, nullptr);
    dialog.show();
    auto *next = dialog.findChild<QPushButton *>(QStringLiteral("btmStartUpload"));
    auto *classes = dialog.findChild<QTableView *>(QStringLiteral("twListCateg"));
    if (!QTest::qWaitFor([&] { return next->isEnabled(); }, 30000) || classes->model()->rowCount() == 0)
        return fail("class list not loaded");
    classes->selectRow(0);

    // Event-loop latency: the longest gap between two ticks of a 5 ms timer.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 maxGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    qint64 hashedAt = -1;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (hashedAt < 0 && dialog.uploadWindow()) {
            auto *message = dialog.uploadWindow()->findChild<QLabel *>(QStringLiteral("lblMessageOperation"));
            if (message && message->text() == QLatin1String("Upload file in corso ..."))
                hashedAt = now;
        }
        maxGap = qMax(maxGap, now - lastTick);
        lastTick = now;
    });

    const long long baseKb = procStatusKb("VmRSS:");
    resetPeakMemory();
    clock.start();
    ticker.start();
    QElapsedTimer total;
    total.start();
    next->click();
    // Ended by the index form, a failure page or a message. A plain event
    // loop, as in the client: a polling wait would sleep between passes and
    // slow down the hand-over of upload data between the network thread and
    // this one.
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (dialog.currentPage() == ConservaFileDialog::PageIndexes
            || dialog.currentPage() == ConservaFileDialog::PageFailure || !prompt.isEmpty())
            loop.quit();
    });
    QTimer::singleShot(20 * 60 * 1000, &loop, &QEventLoop::quit);
    watch.start();
    loop.exec();
    ticker.stop();
    const bool done = dialog.currentPage() == ConservaFileDialog::PageIndexes;
    const double seconds = total.elapsed() / 1000.0;
    const long long peakKb = procStatusKb("VmHWM:");
    if (!done || dialog.currentPage() != ConservaFileDialog::PageIndexes) {
        std::fprintf(stderr, "prompt: %s\n", qPrintable(prompt));
        return fail("the upload did not reach the index form");
    }

    const double growthMib = (peakKb - baseKb) / 1024.0;
    // The gap beyond the timer's own interval is the stall.
    const qint64 stall = qMax<qint64>(0, maxGap - 5);
    std::printf("file: %lld MiB, hash %s\n", (long long)mib, qPrintable(dialog.hash()));
    std::printf("fingerprint + upload: %.2f s (%.0f MiB/s), fingerprint %.2f s\n", seconds, mib / seconds,
                hashedAt / 1000.0);
    std::printf("resident before: %.1f MiB, peak during: %.1f MiB\n", baseKb / 1024.0, peakKb / 1024.0);
    std::printf("RESULT growth_mib=%.1f max_stall_ms=%lld\n", growthMib, (long long)stall);
    return 0;
}
