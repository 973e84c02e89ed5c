// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "indexvalidation.h"

#include <QDate>
#include <QHash>
#include <QRegularExpression>

namespace {

constexpr int MaxValueLength = 1000;

bool isDate(const QString &value)
{
    static const QRegularExpression date(QStringLiteral("^(\\d{2})/(\\d{2})/(\\d{4})$"));
    const QRegularExpressionMatch m = date.match(value);
    return m.hasMatch() && QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt()).isValid();
}

bool isNumber(const QString &value)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+|\\d{1,3}(\\.\\d{3})+)(,\\d+)?$|^[+-]?\\d+(\\.\\d+)?$"));
    return number.match(value).hasMatch();
}

} // namespace

QList<IndexValidation::Rejection> IndexValidation::check(const RefStore::Folder &folder,
                                                         const QList<QPair<QString, QString>> &given,
                                                         QMap<int, QString> *accepted)
{
    QList<Rejection> rejected;
    QMap<int, QString> values;
    QHash<int, const RefStore::IndexDef *> defs;
    for (const RefStore::IndexDef &d : folder.indexes)
        defs.insert(d.id, &d);
    for (const auto &[key, value] : given) {
        bool ok = false;
        const int id = key.trimmed().toInt(&ok);
        if (!ok || !defs.contains(id))
            rejected.append({key, QStringLiteral("Indice non previsto per la classe \"%1\"").arg(folder.name)});
        else if (values.contains(id))
            rejected.append({key, QStringLiteral("Valore ripetuto per l'indice \"%1\"").arg(defs.value(id)->name)});
        else
            values.insert(id, value);
    }
    for (const RefStore::IndexDef &d : folder.indexes) {
        const QString message = problem(d, values.value(d.id).trimmed());
        if (!message.isEmpty())
            rejected.append({QString::number(d.id), message});
    }
    *accepted = values;
    return rejected;
}

QString IndexValidation::problem(const RefStore::IndexDef &d, const QString &value)
{
    if (value.isEmpty())
        return d.required == 1 ? QStringLiteral("Il campo \"%1\" è obbligatorio").arg(d.name) : QString();
    if (value.size() > MaxValueLength)
        return QStringLiteral("Il campo \"%1\" supera i %2 caratteri").arg(d.name).arg(MaxValueLength);
    if (d.type == 2 && !isNumber(value))
        return QStringLiteral("Il campo \"%1\" deve contenere un numero (per esempio 1234 oppure 1.234,56)").arg(d.name);
    if (d.type == 3 && !isDate(value))
        return QStringLiteral("Il campo \"%1\" deve contenere una data valida nel formato gg/mm/aaaa").arg(d.name);
    return QString();
}
