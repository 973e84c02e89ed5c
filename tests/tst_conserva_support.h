#ifndef TST_CONSERVA_SUPPORT_H
#define TST_CONSERVA_SUPPORT_H

// Helpers shared by the preservation tests: a signed-in session on a shared
// cookie jar (what the main window gives every dialog it opens), catalogue
// look-ups, and the controls of a ConservaFileDialog.

#include "conserve/conservafiledialog.h"
#include "conserve/dialoguploadfile.h"
#include "service/kvwconn.h"
#include "service/sessioncookiejar.h"
#include "store/database.h"
#include "store/setting.h"

#include <QComboBox>
#include <QDomElement>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QVariant>
#include <memory>

namespace conservetest {

template <typename T>
T *child(QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline QVariant scalar(const QString &sql, const QVariantList &values = {})
{
    Database database;
    database.openDB();
    QVariant result;
    {
        QSqlQuery query(database.db);
        query.prepare(sql);
        for (const QVariant &v : values)
            query.addBindValue(v);
        if (query.exec() && query.next())
            result = query.value(0);
    }
    database.closeDB();
    return result;
}

inline int count(const QString &sql, const QVariantList &values = {})
{
    return scalar(sql, values).toInt();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
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

// Waits until the dialog shows `page`.
inline bool waitPage(ConservaFileDialog *dialog, int page, int ms = 20000)
{
    return QTest::qWaitFor([&] { return dialog->currentPage() == page; }, ms);
}

// Selects the class named `name` in the class list of page 0.
inline bool selectClass(ConservaFileDialog *dialog, const QString &name)
{
    auto *view = child<QTableView>(dialog, "twListCateg");
    QAbstractItemModel *model = view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 1).data().toString() == name) {
            view->selectRow(row);
            return true;
        }
    }
    return false;
}

inline QStringList column(QAbstractItemModel *model, int col)
{
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, col).data().toString();
    return out;
}

} // namespace conservetest

#endif // TST_CONSERVA_SUPPORT_H
