// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "servicerequest.h"

#include <QXmlStreamReader>

bool ServiceRequest::parse(const QByteArray &xml, QString *error)
{
    m_action.clear();
    m_fields.clear();
    m_values.clear();

    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(false);
    bool rootSeen = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference) {
            *error = QStringLiteral("Richiesta non valida: dichiarazioni di tipo documento ed entità non sono ammesse");
            return false;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (rootSeen) {
            // Only reached for a second top-level element; the reader rejects that itself.
            break;
        }
        rootSeen = true;
        if (reader.name() != QLatin1String("request")) {
            *error = QStringLiteral("Richiesta non valida: l'elemento radice deve essere <request>");
            return false;
        }
        while (reader.readNextStartElement()) {
            const QString name = reader.name().toString();
            if (name == QLatin1String("metadato")) {
                const QXmlStreamAttributes attrs = reader.attributes();
                const QString key = attrs.value(QLatin1String("key")).toString();
                const QString value = attrs.value(QLatin1String("value")).toString();
                if (key.size() > MaxFieldLength || value.size() > MaxFieldLength) {
                    *error = QStringLiteral("Richiesta non valida: valore di indice troppo lungo");
                    return false;
                }
                if (m_values.size() >= MaxIndexValues) {
                    *error = QStringLiteral("Richiesta non valida: più di %1 valori di indice").arg(MaxIndexValues);
                    return false;
                }
                m_values.append({key, value});
                reader.skipCurrentElement();
                continue;
            }
            const QString text = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
            if (reader.hasError())
                break;
            if (text.size() > MaxFieldLength) {
                *error = QStringLiteral("Richiesta non valida: il campo <%1> è troppo lungo").arg(name);
                return false;
            }
            if (m_fields.contains(name)) {
                *error = QStringLiteral("Richiesta non valida: il campo <%1> è ripetuto").arg(name);
                return false;
            }
            m_fields.insert(name, text);
        }
        if (reader.hasError())
            break;
    }
    if (reader.hasError()) {
        *error = QStringLiteral("Richiesta non valida: documento XML malformato (riga %1, colonna %2: %3)")
                     .arg(reader.lineNumber())
                     .arg(reader.columnNumber())
                     .arg(reader.errorString());
        return false;
    }
    if (!rootSeen) {
        *error = QStringLiteral("Richiesta non valida: documento XML vuoto");
        return false;
    }
    m_action = m_fields.take(QStringLiteral("action")).trimmed();
    if (m_action.isEmpty()) {
        *error = QStringLiteral("Richiesta non valida: manca l'azione (<action>)");
        return false;
    }
    return true;
}

bool ServiceRequest::numberField(const QString &name, int *value) const
{
    bool ok = false;
    *value = field(name).trimmed().toInt(&ok);
    return ok;
}
