// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/fingerprint.h"
#include "support/testenv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

class TestFingerprint : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        file.write(content);
        file.close();
        return path;
    }

    static QByteArray randomBytes(qint64 size)
    {
        QByteArray bytes(int(size), Qt::Uninitialized);
        QRandomGenerator generator{quint32(size)};
        for (qint64 i = 0; i < size; ++i)
            bytes[int(i)] = char(generator.bounded(256));
        return bytes;
    }

    static QString reference(const QByteArray &bytes)
    {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
    }

private slots:
    // Lower-case hex; an empty file has the digest of nothing and no head
    // digest; a file that cannot be read has neither.
    void knownEmptyAndUnreadable()
    {
        const QString abc = writeFile("abc.txt", "abc");
        QCOMPARE(Fingerprint::getHash(abc), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
        QCOMPARE(Fingerprint::getHash4k(abc), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
        const QString empty = writeFile("empty.bin", QByteArray());
        QCOMPARE(Fingerprint::getHash(empty), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
        QVERIFY(Fingerprint::getHash4k(empty).isEmpty());

        const QString missing = dir.filePath("missing.pdf");
        QVERIFY(Fingerprint::getHash(missing).isEmpty());
        QVERIFY(Fingerprint::getHash4k(missing).isEmpty());
        if (geteuid() == 0)
            QSKIP("root reads files without read permission");
        const QString locked = writeFile("locked.bin", "riservato");
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        QVERIFY(Fingerprint::getHash(locked).isEmpty());
        QVERIFY(Fingerprint::getHash4k(locked).isEmpty());
    }

    // Sizes around the 4 KiB head and the 1 MiB block: the digest always equals
    // a reference SHA-1 of the whole content and the head of the first 4096
    // bytes. Between blocks the event loop runs: a timer due at once fires
    // while a file of several blocks is still being read.
    void digestsAcrossBlockEdges_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QList<qint64>>("offsets");
        const qint64 mib = 1048576;
        QTest::newRow("1 byte") << qint64(1) << QList<qint64>{0};
        QTest::newRow("4095") << qint64(4095) << QList<qint64>{0};
        QTest::newRow("4096") << qint64(4096) << QList<qint64>{0};
        QTest::newRow("4097") << qint64(4097) << QList<qint64>{0};
        QTest::newRow("1 MiB") << mib << QList<qint64>{0};
        QTest::newRow("1 MiB + 1") << mib + 1 << QList<qint64>{0, mib};
        QTest::newRow("3.5 MiB") << 3 * mib + mib / 2 << QList<qint64>{0, mib, 2 * mib, 3 * mib};
    }
    void digestsAcrossBlockEdges()
    {
        QFETCH(qint64, size);
        QFETCH(QList<qint64>, offsets);
        const QByteArray content = randomBytes(size);
        const QString path = writeFile(QStringLiteral("f%1.bin").arg(size), content);

        // Progress: the file's size, and the offset of each block as it is read.
        QList<qint64> seen;
        int seenBeforeTimer = -1;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [&] { seenBeforeTimer = int(seen.size()); });
        timer.start(0);
        const QString hash = Fingerprint::getHash(path, [&](qint64 maximum, qint64 value) {
            seen << (maximum == size ? value : -1);
        });
        QCOMPARE(hash, reference(content));
        QCOMPARE(Fingerprint::getHash4k(path), reference(content.left(4096)));
        QCOMPARE(seen, offsets);
        if (offsets.size() > 1)
            QVERIFY(seenBeforeTimer >= 1 && seenBeforeTimer < offsets.size());
    }
};

TAVREL_TEST_MAIN(TestFingerprint)
#include "tst_fingerprint.moc"
