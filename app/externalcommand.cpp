// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/externalcommand.h"

#include <QXmlStreamReader>

namespace {
// Gathers the text of the first element with a given name, descendants' text
// included, as the element's text content.
struct FirstElementText
{
    explicit FirstElementText(QLatin1String name) : name(name) {}

    void start(QStringView qualifiedName, int depth)
    {
        if (startDepth == 0 && !found && qualifiedName == name) {
            found = true;
            startDepth = depth;
        }
    }
    void characters(QStringView chunk)
    {
        if (startDepth > 0)
            text += chunk;
    }
    void end(int depth)
    {
        if (depth == startDepth)
            startDepth = 0;
    }

    QLatin1String name;
    QString text;
    bool found = false;
    int startDepth = 0; // depth of the element while inside it, else 0
};
} // namespace

ExternalCommand ExternalCommand::parse(const QString &message)
{
    QXmlStreamReader reader(message);
    // Element names are matched as written, prefix included.
    reader.setNamespaceProcessing(false);
    FirstElementText command(QLatin1String("command"));
    FirstElementText parameter(QLatin1String("parameter1"));
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxDepth)
                return {};
            command.start(reader.qualifiedName(), depth);
            parameter.start(reader.qualifiedName(), depth);
            break;
        case QXmlStreamReader::Characters:
            // Layout between elements is not text (CDATA always is).
            if (reader.isWhitespace() && !reader.isCDATA())
                break;
            command.characters(reader.text());
            parameter.characters(reader.text());
            break;
        case QXmlStreamReader::EndElement:
            command.end(depth);
            parameter.end(depth);
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError() || !command.found)
        return {};
    ExternalCommand result;
    result.command = command.text.toLower();
    result.parameter = parameter.text;
    result.hasParameter = parameter.found;
    return result;
}
