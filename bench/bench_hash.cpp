// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// bench_hash: the file fingerprint on a large file already in the system's
//  file cache, against `openssl dgst -sha1` on the same file in the same run.
//  A 1 GiB file of pseudo-random bytes is written to a private temporary
//  directory and read once to warm the cache. Then, alternately three times
//  each, Fingerprint::getHash (1 MiB blocks, progress and one event-loop pass
//  per block, as the preservation dialog runs it) and the openssl command
//  fingerprint it; the best time of each counts, and both digests must agree.
// Last line: RESULT gbps=X ratio_vs_openssl=Y   (ratio = our throughput / openssl's)

#include "conserve/fingerprint.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
const qint64 kSize = 1024LL * 1024 * 1024;

bool writeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::vector<quint32> block(1024 * 1024 / sizeof(quint32));
    QRandomGenerator random(7);
    for (qint64 written = 0; written < kSize; written += 1024 * 1024) {
        random.fillRange(block.data(), qsizetype(block.size()));
        if (file.write(reinterpret_cast<const char *>(block.data()), 1024 * 1024) != 1024 * 1024)
            return false;
    }
    return true;
}

// The digest printed by openssl ("SHA1(path)= hex" or "SHA1(path)= hex" with another label).
QString openssl(const QString &path, qint64 *ns)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("openssl"), {QStringLiteral("dgst"), QStringLiteral("-sha1"), path});
    process.waitForFinished(-1);
    *ns = timer.nsecsElapsed();
    const QString out = QString::fromLatin1(process.readAllStandardOutput()).trimmed();
    return out.section(QLatin1Char(' '), -1);
}
} // namespace

int main(int argc, char *argv[])
{
    TestEnv env; // private TMPDIR
    QCoreApplication app(argc, argv);

    const QString path = QDir(env.tmpDir()).filePath(QStringLiteral("bench_hash.bin"));
    if (!writeFile(path)) {
        std::printf("cannot write %s\n", qPrintable(path));
        std::printf("RESULT gbps=0 ratio_vs_openssl=0\n");
        return 1;
    }
    Fingerprint::getHashQuiet(path); // into the file cache

    qint64 bestOurs = LLONG_MAX, bestOpenssl = LLONG_MAX;
    QString ours, theirs;
    qint64 reports = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        ours = Fingerprint::getHash(path, [&](qint64, qint64) { ++reports; });
        bestOurs = std::min(bestOurs, timer.nsecsElapsed());
        qint64 ns = 0;
        theirs = openssl(path, &ns);
        bestOpenssl = std::min(bestOpenssl, ns);
        std::printf("run %d: fingerprint %.0f ms, openssl %.0f ms\n", run + 1, timer.nsecsElapsed() / 1e6 - ns / 1e6,
                    ns / 1e6);
    }
    QFile::remove(path);

    const double gbps = double(kSize) / double(bestOurs); // bytes per ns = GB/s
    const double ratio = double(bestOpenssl) / double(bestOurs);
    std::printf("fingerprint %s, openssl %s: %s\n", qPrintable(ours), qPrintable(theirs),
                ours == theirs ? "same" : "DIFFERENT");
    std::printf("progress reports per run: %lld (1 MiB blocks)\n", reports / 3);
    std::printf("best: fingerprint %.0f ms (%.2f GB/s), openssl %.0f ms (%.2f GB/s)\n", bestOurs / 1e6, gbps,
                bestOpenssl / 1e6, double(kSize) / double(bestOpenssl));
    if (ours != theirs || ours.size() != 40) {
        std::printf("RESULT gbps=0 ratio_vs_openssl=0\n");
        return 1;
    }
    std::printf("RESULT gbps=%.2f ratio_vs_openssl=%.2f\n", gbps, ratio);
    return 0;
}
