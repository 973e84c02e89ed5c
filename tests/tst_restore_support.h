// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TST_RESTORE_SUPPORT_H
#define TST_RESTORE_SUPPORT_H

// Shared by the retrieval tests: files preserved and rectified by talking to
// the reference service directly, and a signed-in session for the windows
// under test.

#include "retrieve/historyfile.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "support/promptrecorder.h"
#include "tst_refservice_client.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

struct PreservedFile
{
    QString hash;
    QString token;
    QString tsconserve;
    QByteArray content;
};

// Uploads `content` into class `folder` as `path` and preserves it; with
// `previousHash` the upload rectifies that version instead.
inline PreservedFile preserveFile(ServiceClient &client, int folder, const QByteArray &content, const QString &path,
                                  const QString &previousHash = QString())
{
    PreservedFile file;
    file.content = content;
    file.hash = sha1Hex(content);
    const RestReply upload = client.upload(folder, content, path, previousHash);
    if (upload.http != 200)
        qFatal("upload refused: %s", qPrintable(upload.description));
    QList<QPair<QString, QString>> fields{{QStringLiteral("hash"), file.hash},
                                          {QStringLiteral("folderid"), QString::number(folder)},
                                          {QStringLiteral("computername"), QStringLiteral("pc-prova")}};
    if (!previousHash.isEmpty())
        fields.append({QStringLiteral("hashprecedente"), previousHash});
    const RestReply conserve = client.action(
        previousHash.isEmpty() ? QStringLiteral("savevaluemetadati") : QStringLiteral("sostituiscivaluemetadati"), fields);
    if (conserve.http != 200)
        qFatal("conserve refused: %s", qPrintable(conserve.description));
    file.token = conserve.body.firstChildElement(QStringLiteral("token")).text();
    file.tsconserve = conserve.body.firstChildElement(QStringLiteral("tsconserve")).text();
    return file;
}

// `size` bytes that differ with `seed`.
inline QByteArray sampleContent(int size, char seed)
{
    QList<quint32> words((size + 3) / 4);
    QRandomGenerator(uchar(seed)).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

// Signs `user` in on `jar`, as the main window does, so that windows built on
// the jar run in that session and sign in again by themselves when it expires.
inline bool signInOn(SessionCookieJar &jar, const QString &user, const QString &password)
{
    KVWConn login(&jar);
    QSignalSpy ok(&login, &KVWConn::loginSuccessful);
    login.login(user, password, false);
    if (!ok.wait(20000))
        return false;
    jar.setCredentials(user, password);
    return true;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// Every entry of `dir`, hidden ones too: a left-over temporary file shows here.
inline QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The message boxes recorded so far, "kind|title|text", without the file choosers.
inline QStringList boxesOf(const PromptRecorder &prompts)
{
    QStringList out;
    for (const QString &d : prompts.describe())
        if (!d.startsWith(QLatin1String("save|")))
            out << d;
    return out;
}

// Clicks version `row` (0 = newest) of a loaded history window.
inline void clickVersion(HistoryFile &window, int row)
{
    auto *table = window.findChild<QTableWidget *>("tbwListHistory");
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 2)).center());
}

// A history window of `hash` in class `folder`, shown and loaded with `rows`
// versions, with version `row` clicked; null when it never loads.
inline std::unique_ptr<HistoryFile> openHistoryAt(SessionCookieJar *jar, const QString &hash, const QString &folder,
                                                  int rows, int row)
{
    auto window = std::make_unique<HistoryFile>(jar, hash, folder);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    auto *table = window->findChild<QTableWidget *>("tbwListHistory");
    if (!QTest::qWaitFor([&] { return table->rowCount() == rows; }, 20000))
        return nullptr;
    clickVersion(*window, row);
    return window;
}

#endif // TST_RESTORE_SUPPORT_H
