#ifndef REPLYDOCUMENT_H
#define REPLYDOCUMENT_H

#include <QByteArray>
#include <QDomDocument>
#include <QDomElement>
#include <QString>

// One XML reply of the service, read the way the connection classifies it:
// the first "statusnumber" of the document, the first "body", the first
// "statusdescription" below that body and the first "validation" of the document.
//
// The reply is decoded as UTF-8 and parsed with a streaming reader into a DOM.
// A catalogue reply (status "1" or "5" announced before the body) can hold tens
// of thousands of "file" and "metadatoValue" elements; when the caller allows it,
// those are left out of the DOM ("light" document) and the catalogue applier
// reads them straight from the raw bytes instead. Everything else in the body
// stays in the DOM, so the windows see the same body element either way.
class ReplyDocument
{
public:
    static ReplyDocument parse(const QByteArray &bytes, bool allowLight);

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
    // True when some "file" element of the body follows a "metadatoValue" element.
    bool valuesBeforeFiles() const { return m_valuesBeforeFiles; }
    // True when the bytes had to be decoded to text before parsing.
    bool decoded() const { return m_decoded; }

    // Whether `bytes` must be decoded before the streaming reader sees them:
    // the reader honours an encoding declaration, the service's replies are
    // UTF-8 whatever they declare.
    static bool needsDecoding(const QByteArray &bytes);

private:
    bool build(const QByteArray &bytes, bool decode, bool allowLight, bool *skippedComplex);

    bool m_valid = false;
    QDomDocument m_document;
    QDomElement m_body;
    QString m_statusNumber;
    QString m_statusDescription;
    QDomElement m_validation;
    bool m_light = false;
    bool m_valuesBeforeFiles = false;
    bool m_decoded = false;
};

#endif // REPLYDOCUMENT_H
