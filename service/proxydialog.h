// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PROXYDIALOG_H
#define PROXYDIALOG_H

#include "store/setting.h"

#include <QDialog>
#include <memory>

namespace Ui {
class ProxyDialog;
}

// Edits the HTTP proxy kept in the settings (proxyUrl, proxyPort,
// proxyCredential, proxyUsername, proxyPassword). Saving does not close it; the
// opener re-applies the proxy to its connection when the dialog finishes.
class ProxyDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ProxyDialog(QWidget *parent = nullptr);
    ~ProxyDialog() override;

    void formStatus(bool enabled);

public slots:
    void onClickSave();
    void onEnableDisableProxy(int state);
    void onEnableDisableProxyCredential(int state);

private:
    void enableCredentialFields(bool enabled);

    std::unique_ptr<Ui::ProxyDialog> ui;
    Setting m_setting;
};

#endif // PROXYDIALOG_H
