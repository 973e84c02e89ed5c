// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "accountactions.h"

#include "catalogueactions.h"
#include "servicecontext.h"
#include "servicerequest.h"

AccountActions::AccountActions(ServiceContext &context, CatalogueActions &catalogue)
    : m_context(context)
    , m_catalogue(catalogue)
{
}

HttpResponse AccountActions::login(const ServiceRequest &request)
{
    const QString username = request.field(QStringLiteral("username"));
    const QString password = request.field(QStringLiteral("password"));
    const QVersionNumber version = QVersionNumber::fromString(request.field(QStringLiteral("version")).trimmed());
    if (std::optional<ServiceReply> demand = m_context.updateDemand(version))
        return demand->toHttp();
    if (username.isEmpty() || password.isEmpty() || !m_context.store.verifyPassword(username, password)) {
        return ServiceReply::failure(QString::fromLatin1(Status::LoginKo), QStringLiteral("Username o password errate"))
            .toHttp();
    }
    const QString id = m_context.sessions.open(username, version);
    QByteArray cookie = QByteArray(Sessions::CookieName) + '=' + id.toLatin1() + "; Path=/; HttpOnly";
    if (!m_context.options.tlsCert.isEmpty())
        cookie += "; Secure";
    return ServiceReply::success(QString::fromLatin1(Status::LoginOk), QStringLiteral("Accesso eseguito"),
                                 m_catalogue.body(username, request.field(QStringLiteral("codesync"))))
        .toHttp()
        .withHeader("Set-Cookie", cookie);
}

ServiceReply AccountActions::changePassword(const Sessions::Session &session, const ServiceRequest &request)
{
    const QString ko = QString::fromLatin1(Status::ChangePwdKo);
    if (!request.has(QStringLiteral("newpwd")) || !request.has(QStringLiteral("confirmpwd"))
        || !request.has(QStringLiteral("oldpwd")))
        return ServiceReply::failure(ko, QStringLiteral("Campi \"newpwd\", \"confirmpwd\" e \"oldpwd\" obbligatori"));
    const QString newPwd = request.field(QStringLiteral("newpwd"));
    if (newPwd != request.field(QStringLiteral("confirmpwd")))
        return ServiceReply::failure(ko, QStringLiteral("Le password non corrispondono"));
    const QString broken =
        m_context.store.changePassword(session.username, request.field(QStringLiteral("oldpwd")), newPwd);
    if (!broken.isEmpty())
        return ServiceReply::failure(ko, broken);
    m_context.sessions.endOthers(session.username, session.id);
    return ServiceReply::success(QString::fromLatin1(Status::ChangePwdOk), QStringLiteral("Password modificata"));
}
