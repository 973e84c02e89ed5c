// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef SERVICEREQUEST_H
#define SERVICEREQUEST_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// One request document posted by the client:
//   <request><action>NAME</action><field>text</field>...<metadato key=".." value=".."/>...</request>
// Parsed with a streaming reader that refuses document type declarations (and
// so every entity beyond the five predefined ones), nested markup inside a
// field, repeated fields and oversized texts.
class ServiceRequest
{
public:
    static constexpr int MaxFieldLength = 64 * 1024;
    static constexpr int MaxIndexValues = 1000;

    // Parses `xml`; on failure returns false and explains why in `error` (Italian).
    bool parse(const QByteArray &xml, QString *error);

    QString action() const { return m_action; }
    bool has(const QString &field) const { return m_fields.contains(field); }
    QString field(const QString &name) const { return m_fields.value(name); }
    // A fingerprint field, trimmed and in lower case.
    QString hashField(const QString &name) const { return field(name).trimmed().toLower(); }
    // A whole-number field; false when it is missing or not a number.
    bool numberField(const QString &name, int *value) const;
    // The index values (metadato key/value attributes) in document order.
    const QList<QPair<QString, QString>> &indexValues() const { return m_values; }

private:
    QString m_action;
    QMap<QString, QString> m_fields;
    QList<QPair<QString, QString>> m_values;
};

#endif // SERVICEREQUEST_H
