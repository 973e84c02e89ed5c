// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TST_CONSERVA_SUPPORT_H
#define TST_CONSERVA_SUPPORT_H

// Helpers shared by the preservation tests: a signed-in session on a shared
// cookie jar (what the main window gives every dialog it opens), catalogue
// look-ups, the controls of a ConservaFileDialog and the service's history.

#include "conserve/calendarwidget.h"
#include "conserve/conservafiledialog.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "support/refservicefixture.h"
#include "support/windowtest.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDomElement>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <memory>

namespace conservetest {

inline int count(const QString &sql, const QVariantList &values = {})
{
    return catalogueValue(sql, values).toInt();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
}

inline QString sha1(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
}

// SHA-1 of the file at `path`; empty when it cannot be read.
inline QString fileSha1(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? sha1(file.readAll()) : QString();
}

// A signed-in session: the jar carries the service's cookies and the user's
// credentials, as after a sign-in in the main window.
struct Session
{
    std::unique_ptr<SessionCookieJar> jar{new SessionCookieJar};
    std::unique_ptr<KVWConn> conn;

    bool signIn(const QString &user, const QString &password)
    {
        conn = std::make_unique<KVWConn>(jar.get());
        QSignalSpy ok(conn.get(), &KVWConn::loginSuccessful);
        conn->login(user, password, false);
        if (!ok.wait(20000))
            return false;
        jar->setCredentials(user, password);
        return true;
    }
};

inline void click(QWidget *window, const char *button)
{
    QTest::mouseClick(child<QAbstractButton>(window, button), Qt::LeftButton);
}

// Waits until the dialog shows `page`.
inline bool waitPage(ConservaFileDialog *dialog, int page, int ms = 20000)
{
    return QTest::qWaitFor([&] { return dialog->currentPage() == page; }, ms);
}

inline QStringList column(QAbstractItemModel *model, int col)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, col).data().toString();
    return out;
}

// Selects the class named `name` in the class list of page 0.
inline bool selectClass(ConservaFileDialog *dialog, const QString &name)
{
    auto *view = child<QTableView>(dialog, "twListCateg");
    const int row = int(column(view->model(), 1).indexOf(name));
    if (row >= 0)
        view->selectRow(row);
    return row >= 0;
}

// The value field of the index `key` in the form (a CalendarWidget for dates).
inline QWidget *valueWidget(ConservaFileDialog *dialog, const QString &key)
{
    for (QWidget *w : dialog->valueWidgets()) {
        auto *date = qobject_cast<CalendarWidget *>(w);
        if ((date ? date->comboBox() : w)->property("keyrow").toString() == key)
            return w;
    }
    return nullptr;
}

inline void setValue(ConservaFileDialog *dialog, const QString &key, const QString &text)
{
    QWidget *w = valueWidget(dialog, key);
    QVERIFY2(w, qPrintable("no field " + key));
    if (auto *date = qobject_cast<CalendarWidget *>(w))
        date->lineEdit()->setText(text);
    else
        qobject_cast<QComboBox *>(w)->setEditText(text);
}

// Presses "Conserva" on the form of `dialog` and waits for the success page
// and for the failure of the synchronisation that follows it (`service` fails
// it), so the catalogue shows what the dialog itself wrote and nothing
// repairs it.
inline bool conserveWithoutFollowUpSync(RefServiceFixture &service, ConservaFileDialog *dialog)
{
    if (!waitPage(dialog, ConservaFileDialog::PageIndexes)
        || !service.failNext("syncfolder", "35", "Servizio momentaneamente non disponibile"))
        return false;
    QSignalSpy syncFailed(dialog->connection(), &KVWConn::commandFailure);
    click(dialog, "btmConserva");
    return waitPage(dialog, ConservaFileDialog::PageSuccess) && syncFailed.wait(20000);
}

// Number of versions of a file the service keeps ("history"); -1 without a reply.
inline int serviceVersions(SessionCookieJar *jar, const QString &hash, int classId)
{
    KVWConn conn(jar);
    QByteArray body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>history</action>"
                                     "<hash>%1</hash><folderid>%2</folderid></request>")
                          .arg(hash)
                          .arg(classId)
                          .toUtf8();
    conn.request().setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("text/xml;charset=UTF-8"));
    QSignalSpy ok(&conn, &KVWConn::commandSuccessful);
    QSignalSpy failed(&conn, &KVWConn::commandFailure);
    conn.postSession(&body);
    if (!QTest::qWaitFor([&] { return ok.count() + failed.count() > 0; }, 20000) || ok.isEmpty())
        return -1;
    return ok.first().at(0).value<QDomElement>().elementsByTagName(QStringLiteral("file")).count();
}

} // namespace conservetest

#endif // TST_CONSERVA_SUPPORT_H
