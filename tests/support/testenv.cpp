// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/testenv.h"

#include <QDir>

#include <cstdlib>
#include <sys/stat.h>

namespace {
TestEnv *g_instance = nullptr;

void setPath(const char *name, const QString &value)
{
    QDir().mkpath(value);
    ::chmod(QFile::encodeName(value).constData(), 0700);
    qputenv(name, QFile::encodeName(value));
}
} // namespace

TestEnv::TestEnv()
{
    QByteArray base = qgetenv("TMPDIR");
    if (base.isEmpty())
        base = "/tmp";
    QByteArray templ = base + "/tavrel-test-XXXXXX";
    char *made = ::mkdtemp(templ.data());
    if (!made)
        qFatal("cannot create the test's temporary directory under %s", base.constData());
    m_root = QFile::decodeName(made);

    setPath("HOME", home());
    setPath("XDG_CONFIG_HOME", configHome());
    setPath("XDG_DATA_HOME", m_root + "/home/.local/share");
    setPath("XDG_CACHE_HOME", m_root + "/home/.cache");
    setPath("XDG_RUNTIME_DIR", m_root + "/runtime");
    setPath("TMPDIR", tmpDir());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_instance = this;
}

TestEnv::~TestEnv()
{
    g_instance = nullptr;
    if (qEnvironmentVariableIsEmpty("TAVREL_KEEP_TEST_DIR"))
        QDir(m_root).removeRecursively();
}

QString TestEnv::home() const
{
    return m_root + "/home";
}

QString TestEnv::configHome() const
{
    return m_root + "/home/.config";
}

QString TestEnv::tmpDir() const
{
    return m_root + "/tmp";
}

QString TestEnv::catalogueFile() const
{
    return configHome() + "/TavrelLite/tavrellite.db";
}

TestEnv *TestEnv::instance()
{
    return g_instance;
}
