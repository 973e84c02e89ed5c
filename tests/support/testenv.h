// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef TESTENV_H
#define TESTENV_H

#include <QApplication>
#include <QString>
#include <QtTest>

// Gives the running test executable a private, throw-away environment: HOME,
// XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and TMPDIR all
// point below one fresh temporary directory, so the catalogue, the local sockets
// and the shared-memory keys of one test never meet those of another test or of
// a client the developer is running. Must be built before the application object.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv &) = delete;
    TestEnv &operator=(const TestEnv &) = delete;

    QString root() const { return m_root; }
    QString home() const;
    QString configHome() const;
    QString tmpDir() const;
    // Path of the catalogue file the client uses in this environment.
    QString catalogueFile() const;

    static TestEnv *instance();

private:
    QString m_root;
};

#define TAVREL_TEST_MAIN(TestObject)                                                   \
    int main(int argc, char *argv[])                                                   \
    {                                                                                  \
        TestEnv tavrelTestEnv;                                                         \
        QApplication app(argc, argv);                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                       \
        TestObject tc;                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                     \
        return QTest::qExec(&tc, argc, argv);                                          \
    }

#endif // TESTENV_H
