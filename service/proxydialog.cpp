// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/proxydialog.h"

#include "ui_proxydialog.h"

#include "app/prompts.h"

ProxyDialog::ProxyDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ProxyDialog)
{
    ui->setupUi(this);
    connect(ui->chbEnableProxy, &QCheckBox::stateChanged, this, &ProxyDialog::onEnableDisableProxy);
    connect(ui->chbEnableCredential, &QCheckBox::stateChanged, this,
            &ProxyDialog::onEnableDisableProxyCredential);
    connect(ui->btmAnnulla, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->btmSalva, &QPushButton::clicked, this, &ProxyDialog::onClickSave);

    const QString host = m_setting.getSetting(QStringLiteral("proxyUrl"));
    if (host.isEmpty()) {
        ui->chbEnableProxy->setChecked(false);
        formStatus(false);
        ui->leIndirizzoProxy->clear();
        ui->lePortProxy->clear();
        ui->leUsernameProxy->clear();
        ui->lePasswordProxy->clear();
    } else {
        ui->chbEnableProxy->setChecked(true);
        formStatus(true);
        ui->leIndirizzoProxy->setText(host);
        ui->lePortProxy->setText(m_setting.getSetting(QStringLiteral("proxyPort")));
        ui->leUsernameProxy->setText(m_setting.getSetting(QStringLiteral("proxyUsername")));
        ui->lePasswordProxy->setText(m_setting.getSetting(QStringLiteral("proxyPassword")));
    }
}

ProxyDialog::~ProxyDialog() = default;

void ProxyDialog::enableCredentialFields(bool enabled)
{
    ui->leUsernameProxy->setEnabled(enabled);
    ui->lePasswordProxy->setEnabled(enabled);
    ui->lblUsername->setEnabled(enabled);
    ui->lblPassword->setEnabled(enabled);
}

void ProxyDialog::formStatus(bool enabled)
{
    ui->leIndirizzoProxy->setEnabled(enabled);
    ui->lePortProxy->setEnabled(enabled);
    if (enabled) {
        const bool credential = m_setting.getSetting(QStringLiteral("proxyCredential")) == QLatin1String("1");
        ui->chbEnableCredential->setEnabled(true);
        ui->chbEnableCredential->setChecked(credential);
        enableCredentialFields(credential);
    } else {
        ui->chbEnableCredential->setChecked(false);
        ui->chbEnableCredential->setEnabled(false);
        enableCredentialFields(false);
    }
}

void ProxyDialog::onEnableDisableProxy(int state)
{
    formStatus(state == Qt::Checked);
}

void ProxyDialog::onEnableDisableProxyCredential(int state)
{
    enableCredentialFields(state == Qt::Checked);
}

void ProxyDialog::onClickSave()
{
    const QString title = QStringLiteral("Impostazioni proxy");
    if (ui->chbEnableProxy->isChecked()) {
        const bool credential = ui->chbEnableCredential->isChecked();
        if (ui->leIndirizzoProxy->text().isEmpty()) {
            Prompts::critical(this, title, QStringLiteral("Inserisci l'indirizzo del proxy"));
            return;
        }
        if (ui->lePortProxy->text().isEmpty()) {
            Prompts::critical(this, title, QStringLiteral("Inserisci la porta del proxy"));
            return;
        }
        if (credential && ui->leUsernameProxy->text().isEmpty()) {
            Prompts::critical(this, title, QStringLiteral("Inserisci il nome utente"));
            return;
        }
        if (credential && ui->lePasswordProxy->text().isEmpty()) {
            Prompts::critical(this, title, QStringLiteral("Inserisci la password"));
            return;
        }
        m_setting.saveSetting(QStringLiteral("proxyUrl"), ui->leIndirizzoProxy->text());
        m_setting.saveSetting(QStringLiteral("proxyPort"), ui->lePortProxy->text());
        if (credential) {
            m_setting.saveSetting(QStringLiteral("proxyCredential"), QStringLiteral("1"));
            m_setting.saveSetting(QStringLiteral("proxyUsername"), ui->leUsernameProxy->text());
            m_setting.saveSetting(QStringLiteral("proxyPassword"), ui->lePasswordProxy->text());
        } else {
            m_setting.deleteSetting(QStringLiteral("proxyCredential"));
            m_setting.deleteSetting(QStringLiteral("proxyUsername"));
            m_setting.deleteSetting(QStringLiteral("proxyPassword"));
        }
    } else {
        for (const char *key : {"proxyUrl", "proxyPort", "proxyCredential", "proxyUsername", "proxyPassword"})
            m_setting.deleteSetting(QLatin1String(key));
    }
}
