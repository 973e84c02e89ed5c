// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Restore of a 1 GiB preserved file from the reference service on loopback,
// through the client's own restore (the "ripristina" request in download mode,
// the progress window, the bytes streamed to a temporary file beside the
// target), against curl fetching the same bytes from the same service in the
// same run.
//
// Measures the client's peak memory growth during the restore and its
// throughput relative to curl: BENCH_RESTORE_ROUNDS (default 3) rounds of curl
// then the client, each side timed by its best round.
//
// BENCH_RESTORE_MIB (default 1024) sets the file size.
//
// Last line: RESULT growth_mib=X ratio_vs_curl=Y

#include "app/prompts.h"
#include "retrieve/restoreflow.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/setting.h"
#include "support/refservicefixture.h"
#include "support/testenv.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

#include "bench/procstatus.h"

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Runs curl with `args`; false on failure.
bool curl(const QStringList &args, QByteArray *output = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList{QStringLiteral("-s"), QStringLiteral("-S")} + args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", p.readAllStandardError().constData());
        return false;
    }
    if (output)
        *output = p.readAllStandardOutput();
    return true;
}

QString fileSha1(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&f);
    return QString::fromLatin1(hash.result().toHex());
}

const char *const kXmlHeader = "Content-Type: text/xml;charset=UTF-8";

} // namespace

int main(int argc, char *argv[])
{
    TestEnv env; // private HOME, catalogue and TMPDIR
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const qint64 mib = qEnvironmentVariableIntValue("BENCH_RESTORE_MIB") > 0
                           ? qEnvironmentVariableIntValue("BENCH_RESTORE_MIB")
                           : 1024;
    const int rounds = qEnvironmentVariableIntValue("BENCH_RESTORE_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("BENCH_RESTORE_ROUNDS")
                           : 3;
    const qint64 size = mib * 1024 * 1024;

    RefServiceFixture service;
    if (!service.start()) {
        std::fprintf(stderr, "service: %s\n", qPrintable(service.errorString()));
        std::printf("RESULT growth_mib=0 ratio_vs_curl=0\n");
        return 1;
    }
    const QString endpoint = service.baseUrl() + QStringLiteral("/kvshop/RestService");
    Setting().saveSetting(QStringLiteral("url"), service.baseUrl());

    QTemporaryDir work;
    const QString source = work.filePath(QStringLiteral("originale.bin"));
    const QString cookies = work.filePath(QStringLiteral("cookies.txt"));

    // 1. A file of `size` random bytes, preserved through curl (not counted).
    QString hash;
    {
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QCryptographicHash sha(QCryptographicHash::Sha1);
        QByteArray block(8 * 1024 * 1024, Qt::Uninitialized);
        for (qint64 written = 0; written < size; written += block.size()) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            const QByteArray piece = block.left(int(qMin<qint64>(block.size(), size - written)));
            f.write(piece);
            sha.addData(piece);
        }
        hash = QString::fromLatin1(sha.result().toHex());
    }
    const QString login = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login</action><username>demo</username>"
        "<password>Tavrel2026</password><codesync>0.0</codesync><version>" TAVREL_VERSION "</version>"
        "<platform>lin</platform></request>");
    const QString upload = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>uploadfile</action><idfolder>201</idfolder>"
        "<last_modified>06/12/2026 10:00:00</last_modified><hashfile>%1</hashfile></request>").arg(hash);
    const QString conserve = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>savevaluemetadati</action><hash>%1</hash>"
        "<folderid>201</folderid><computername>bench</computername></request>").arg(hash);
    const QString restore = RestoreFlow::requestText(hash, QStringLiteral("201"));
    writeFile(work.filePath("login.xml"), login.toUtf8());
    writeFile(work.filePath("upload.xml"), upload.toUtf8());
    writeFile(work.filePath("conserve.xml"), conserve.toUtf8());
    writeFile(work.filePath("restore.xml"), restore.toUtf8());
    QByteArray reply;
    if (!curl({"-c", cookies, "-H", kXmlHeader, "--data-binary", "@" + work.filePath("login.xml"), endpoint})
        || !curl({"-b", cookies, "-F", "xml=<" + work.filePath("upload.xml") + ";type=text/xml",
                  "-F", "/home/demo/grande.bin=@" + source + ";type=application/octet-stream", endpoint},
                 &reply)
        || !curl({"-b", cookies, "-H", kXmlHeader, "--data-binary", "@" + work.filePath("conserve.xml"), endpoint},
                 &reply)
        || !reply.contains("<token>")) {
        std::fprintf(stderr, "preservation failed: %s\n", reply.left(500).constData());
        std::printf("RESULT growth_mib=0 ratio_vs_curl=0\n");
        return 1;
    }
    QFile::remove(source);

    // 2. The client's session, and its answers to the save dialog and the outcome.
    SessionCookieJar jar;
    {
        KVWConn signIn(&jar);
        QSignalSpy ok(&signIn, &KVWConn::loginSuccessful);
        signIn.login(QStringLiteral("demo"), QStringLiteral("Tavrel2026"), false);
        if (!ok.wait(30000)) {
            std::printf("RESULT growth_mib=0 ratio_vs_curl=0\n");
            return 1;
        }
        jar.setCredentials(QStringLiteral("demo"), QStringLiteral("Tavrel2026"));
    }
    QString savePath;
    QString outcome;
    Prompts::setHandler([&](const Prompts::Request &r) {
        if (r.kind == Prompts::Kind::SaveFile)
            return savePath;
        outcome = r.title + QLatin1Char('|') + r.text;
        return QStringLiteral("ok");
    });
    KVWConn conn(&jar);
    QByteArray requestBytes;
    RestoreFlow flow(&conn, {"Scarica file", "Rispristino file", "Scarica file", "File scaricato"}, nullptr);
    QObject::connect(&conn, &KVWConn::downloadFinish, &flow, &RestoreFlow::finish);

    double bestClient = 1e9;
    double bestCurl = 1e9;
    QList<double> ratios;
    double growthMib = 0;
    bool identical = true;
    for (int round = 0; round < rounds; ++round) {
        // curl, same service, same bytes, its own session.
        const QString curlOut = work.filePath(QStringLiteral("curl.bin"));
        QElapsedTimer curlTimer;
        curlTimer.start();
        if (!curl({"-b", cookies, "-H", kXmlHeader, "--data-binary", "@" + work.filePath("restore.xml"), "-o",
                   curlOut, endpoint}))
            return 1;
        const double curlSeconds = curlTimer.nsecsElapsed() / 1e9;
        if (QFileInfo(curlOut).size() != size)
            identical = false;
        QFile::remove(curlOut);
        bestCurl = qMin(bestCurl, curlSeconds);

        // The client.
        savePath = work.filePath(QStringLiteral("ripristinato.bin"));
        outcome.clear();
        QCoreApplication::processEvents();
        const long long before = procStatusKb("VmRSS:");
        resetPeakMemory();
        QElapsedTimer timer;
        timer.start();
        flow.askSavePath(QStringLiteral("grande.bin"));
        flow.post(hash, QStringLiteral("201"), requestBytes);
        while (outcome.isEmpty() && timer.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const long long peak = procStatusKb("VmHWM:");
        growthMib = qMax(growthMib, (peak - before) / 1024.0);
        bestClient = qMin(bestClient, seconds);
        ratios << curlSeconds / seconds;
        if (outcome != QLatin1String("Scarica file|File scaricato") || QFileInfo(savePath).size() != size
            || (round == 0 && fileSha1(savePath) != hash))
            identical = false;
        std::printf("round %d: client %.2f s (%.0f MiB/s, peak growth %.1f MiB), curl %.2f s (%.0f MiB/s)\n",
                    round + 1, seconds, mib / seconds, (peak - before) / 1024.0, curlSeconds, mib / curlSeconds);
        std::fflush(stdout);
        QFile::remove(savePath);
    }
    Prompts::setHandler({});

    // Both sides are timed by their best round: on a busy machine the other
    // rounds mostly measure the neighbours. The median of the rounds' paired
    // ratios is printed too.
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios.isEmpty() ? 0.0 : ratios.at(ratios.size() / 2);
    const double ratio = bestCurl / bestClient;
    std::printf("file %lld MiB, identical=%s, best client %.2f s, best curl %.2f s, median paired ratio %.2f\n", mib,
                identical ? "yes" : "no", bestClient, bestCurl, median);
    std::printf("RESULT growth_mib=%.1f ratio_vs_curl=%.2f\n", growthMib, identical ? ratio : 0.0);
    return identical ? 0 : 1;
}
