// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef REPLYDOCUMENT_H
#define REPLYDOCUMENT_H

#include <QByteArray>
#include <QDomDocument>
#include <QDomElement>
#include <QLatin1String>
#include <QList>
#include <QString>
#include <QStringView>

class QXmlStreamAttributes;

// One XML reply of the service, read the way the connection classifies it:
// the first "statusnumber" of the document, the first "body", the first
// "statusdescription" below that body and the first "validation" of the document.
//
// The reply is decoded as UTF-8 and read once with a streaming reader into a
// DOM. A catalogue reply (HTTP 200 with status "1" or "5" announced before the
// body) can hold tens of thousands of "file" and "metadatoValue" elements: when
// the caller allows it, those are left out of the DOM ("light" document), and
// every catalogue element of the body is handed, as it is read, to a sink that
// writes it to the catalogue. Everything else stays in the DOM, so the windows
// see the same body element either way.
class ReplyDocument
{
public:
    // The catalogue rows a body carries, and the attributes read for each, in
    // the order of the columns they fill.
    enum class Row { Bucket, Policy, Folder, Index, File, Value };
    static const QList<QLatin1String> &fieldsOf(Row row);

    // Receives the catalogue rows of a light body in document order, on the
    // thread that called parse().
    class CatalogueSink
    {
    public:
        virtual ~CatalogueSink() = default;
        // The body starts (also called again if the reply has to be read again).
        virtual void begin() = 0;
        // A "bucket", "policie", "folder", "metadato" (only below a "folder"),
        // "file" or "metadatoValue" element anywhere below the body: its
        // attributes in the order of fieldsOf(row); a missing one is empty.
        virtual void row(Row row, const QStringView *fields) = 0;
    };

    // Where the reader itself hands each catalogue element while reading.
    class ElementSink;

    // With a sink, the reply is read on a worker thread while the sink writes
    // the rows already read on this one.
    static ReplyDocument parse(const QByteArray &bytes, bool allowLight, CatalogueSink *sink = nullptr);

    bool isValid() const { return m_valid; }
    QDomDocument document() const { return m_document; }
    QDomElement body() const { return m_body; }
    QString statusNumber() const { return m_statusNumber; }
    QString statusDescription() const { return m_statusDescription; }
    QDomElement validation() const { return m_validation; }
    // The "validation" element serialised whole, indented by 4 spaces ("" when absent).
    QString validationText() const;

    // True when "file" and "metadatoValue" elements of the body were left out.
    bool isLight() const { return m_light; }
    // True when the catalogue elements of the body went to the sink.
    bool fedSink() const { return m_fedSink; }
    // True when the bytes had to be decoded to text before parsing.
    bool decoded() const { return m_decoded; }

    // Whether `bytes` declare an encoding other than UTF-8: the reader would
    // honour it, the service's replies are UTF-8 whatever they declare.
    static bool needsDecoding(const QByteArray &bytes);

private:
    static ReplyDocument parseHere(const QByteArray &bytes, bool allowLight, ElementSink *sink);
    bool build(const QByteArray &bytes, bool decode, bool allowLight, ElementSink *sink, bool *skippedComplex);

    bool m_valid = false;
    QDomDocument m_document;
    QDomElement m_body;
    QString m_statusNumber;
    QString m_statusDescription;
    QDomElement m_validation;
    bool m_light = false;
    bool m_fedSink = false;
    bool m_decoded = false;
};

#endif // REPLYDOCUMENT_H
