// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef UPLOADACTION_H
#define UPLOADACTION_H

#include "refstore.h"
#include "servicereply.h"
#include "uploadreceiver.h"

#include <optional>

class ServiceContext;
class ServiceRequest;

// "uploadfile" and "sostituiscifile", posted as a two-part form: checks what
// the UploadReceiver received (the declared SHA-1, the class, the version
// being replaced, the profile's space counting the uploads not yet
// preserved), keeps the content and records the upload. The reply lists the
// class's index definitions, each with its initial value: the current
// version's, for a rectification or a content already preserved in the class.
class UploadAction
{
public:
    explicit UploadAction(ServiceContext &context);

    std::unique_ptr<UploadReceiver> prepare(const HttpRequest &request);
    ServiceReply finish(UploadReceiver *receiver);

private:
    using Refusal = std::optional<ServiceReply>;
    struct Target {
        QString declaredHash, prevHash;
        int folderId = 0;
        bool rectification = false;
    };

    static Refusal readRequest(const UploadReceiver::Received &r, ServiceRequest *request);
    Refusal checkFile(UploadReceiver::Received &r, const ServiceRequest &request, const QString &username);
    static Refusal readTarget(const ServiceRequest &request, const UploadReceiver::Received &r, Target *t);
    Refusal checkClass(const QString &username, const Target &t, std::optional<RefStore::Folder> *folder,
                       std::optional<RefStore::FileVersion> *previous);
    ServiceReply record(UploadReceiver::Received &r, const ServiceRequest &request, const Target &t,
                        const QString &username, const RefStore::Folder &folder,
                        const std::optional<RefStore::FileVersion> &previous);
    ServiceReply noSpace(const QString &username, int folderId, const QString &detail);
    static ServiceReply accepted(const RefStore::Folder &folder, const QMap<int, QString> &initial);

    ServiceContext &m_context;
};

#endif // UPLOADACTION_H
