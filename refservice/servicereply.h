// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SERVICEREPLY_H
#define SERVICEREPLY_H

#include "httpexchange.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QXmlStreamWriter;

// Status numbers exchanged with the client (compared by the client as text).
namespace Status {
inline constexpr const char *LoginKo = "0";
inline constexpr const char *LoginOk = "1";
inline constexpr const char *ActionNoExist = "2";
inline constexpr const char *SyncFolderOk = "5";
inline constexpr const char *UploadKo = "13";
inline constexpr const char *UploadOk = "14";
inline constexpr const char *ConserveOk = "15";
inline constexpr const char *ConserveKo = "16";
inline constexpr const char *RestoreOk = "17";
inline constexpr const char *RestoreKo = "18";
inline constexpr const char *SessionTimeout = "19";
inline constexpr const char *ValidationKo = "20";
inline constexpr const char *ReplaceOk = "25";
inline constexpr const char *ReplaceKo = "26";
inline constexpr const char *HistoryOk = "29";
inline constexpr const char *HistoryKo = "30";
inline constexpr const char *ToUpdate = "31";
inline constexpr const char *ChangePwdKo = "37";
inline constexpr const char *ChangePwdOk = "38";
inline constexpr const char *ExhibitorOk = "40";
inline constexpr const char *ExhibitorKo = "41";
} // namespace Status

// A reply document:
//   <response><statusnumber>N</statusnumber><body><statusdescription>..</statusdescription>...</body></response>
// HTTP 200 on success, 500 on failure. The body's extra content is written by a
// callback straight into the output, so large catalogue replies are never held
// twice in memory.
class ServiceReply
{
public:
    using BodyWriter = std::function<void(QXmlStreamWriter &)>;

    static ServiceReply success(const QString &status, const QString &description, BodyWriter body = {});
    static ServiceReply failure(const QString &status, const QString &description, BodyWriter body = {});
    // "19": no live session (never signed in, expired, or ended).
    static ServiceReply sessionExpired();

    int httpStatus() const { return m_success ? 200 : 500; }
    bool isSuccess() const { return m_success; }
    QString status() const { return m_status; }
    QString description() const { return m_description; }
    QByteArray toXml() const;
    // The reply as the HTTP answer: its document, HTTP 200 or 500.
    HttpResponse toHttp() const;

private:
    bool m_success = false;
    QString m_status;
    QString m_description;
    BodyWriter m_body;
};

#endif // SERVICEREPLY_H
