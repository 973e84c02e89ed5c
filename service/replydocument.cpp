// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "service/replydocument.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextStream>
#include <QXmlStreamReader>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// What build() hands over while reading: the body's start and its catalogue
// elements, with their attributes.
class ReplyDocument::ElementSink
{
public:
    virtual ~ElementSink() = default;
    virtual void begin() = 0;
    virtual void element(Row row, const QXmlStreamAttributes &attributes) = 0;
};

namespace {
using Row = ReplyDocument::Row;

// Rows read by the worker, handed to the calling thread in batches: the
// attribute texts of a batch are one string, each field ends at `ends[i]`.
struct Batch {
    std::vector<qint8> rows; // a Row, or -1 for the start of the body
    std::vector<qsizetype> ends;
    QString text;
};

class BatchQueue
{
public:
    void push(Batch &&batch)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_space.wait(lock, [this] { return m_batches.size() < kMaxBatches; });
        m_batches.push_back(std::move(batch));
        m_ready.notify_one();
    }
    void close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_ready.notify_one();
    }
    // False when the worker is done and every batch was taken.
    bool pop(Batch *batch)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_batches.empty() || m_closed; });
        if (m_batches.empty())
            return false;
        *batch = std::move(m_batches.front());
        m_batches.pop_front();
        m_space.notify_one();
        return true;
    }

private:
    static constexpr size_t kMaxBatches = 16; // bounds what waits in memory
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_space;
    std::deque<Batch> m_batches;
    bool m_closed = false;
};

// Runs on the worker: copies each element's fields into the current batch.
class BatchingSink : public ReplyDocument::ElementSink
{
public:
    explicit BatchingSink(BatchQueue &queue)
        : m_queue(queue)
    {
    }
    void begin() override
    {
        m_batch.rows.push_back(-1);
        flush();
    }
    void element(Row row, const QXmlStreamAttributes &attributes) override
    {
        for (const QLatin1String &field : ReplyDocument::fieldsOf(row)) {
            m_batch.text.append(attributes.value(field));
            m_batch.ends.push_back(m_batch.text.size());
        }
        m_batch.rows.push_back(qint8(row));
        if (m_batch.rows.size() >= 4096)
            flush();
    }
    void flush()
    {
        if (m_batch.rows.empty())
            return;
        m_queue.push(std::move(m_batch));
        m_batch = Batch();
    }

private:
    BatchQueue &m_queue;
    Batch m_batch;
};
} // namespace

namespace {
bool isBulkTag(QStringView name)
{
    return name == QLatin1String("file") || name == QLatin1String("metadatoValue");
}

bool isValidUtf8(const QByteArray &bytes)
{
    // Decoded in slices so that a large reply is not held twice.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const qsizetype slice = 1 << 16;
    for (qsizetype at = 0; at < bytes.size() && !decoder.hasError(); at += slice) {
        const QString ignored = decoder.decode(QByteArrayView(bytes.constData() + at, qMin(slice, bytes.size() - at)));
        Q_UNUSED(ignored);
    }
    const QString tail = decoder(QByteArrayView());
    Q_UNUSED(tail);
    return !decoder.hasError();
}
} // namespace

bool ReplyDocument::needsDecoding(const QByteArray &bytes)
{
    // Only the declaration at the very start matters.
    static const QRegularExpression declaration(
        QStringLiteral("^\\s*<\\?xml[^>]*encoding\\s*=\\s*[\"']([^\"']*)[\"']"));
    const QString head = QString::fromLatin1(bytes.left(256));
    const QRegularExpressionMatch m = declaration.match(head);
    return m.hasMatch() && m.captured(1).compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0;
}

const QList<QLatin1String> &ReplyDocument::fieldsOf(Row row)
{
    static const QList<QLatin1String> fields[] = {
        {QLatin1String("id"), QLatin1String("description"), QLatin1String("quota"), QLatin1String("used"),
         QLatin1String("unit"), QLatin1String("div")},
        {QLatin1String("policie"), QLatin1String("idbucket"), QLatin1String("description")},
        {QLatin1String("id"), QLatin1String("name"), QLatin1String("groups"), QLatin1String("custom"),
         QLatin1String("idbuckets"), QLatin1String("idpolicies")},
        {QLatin1String("idmetadato"), QLatin1String("idfolder"), QLatin1String("name"), QLatin1String("type"),
         QLatin1String("visible"), QLatin1String("required"), QLatin1String("custom")},
        {QLatin1String("hash"), QLatin1String("hash4k"), QLatin1String("last_modified"), QLatin1String("filename"),
         QLatin1String("token"), QLatin1String("idfolder"), QLatin1String("username"), QLatin1String("tsupdate"),
         QLatin1String("idbuckets"), QLatin1String("tsconserve"), QLatin1String("computer_name")},
        {QLatin1String("key"), QLatin1String("value"), QLatin1String("hash")},
    };
    return fields[int(row)];
}

ReplyDocument ReplyDocument::parse(const QByteArray &bytes, bool allowLight, CatalogueSink *sink)
{
    if (!sink)
        return parseHere(bytes, allowLight, nullptr);

    // Reading the XML and writing the rows each take about half of the time of
    // a large reply: the reader runs on a worker while this thread writes.
    BatchQueue queue;
    ReplyDocument doc;
    std::thread worker([&] {
        BatchingSink batching(queue);
        doc = parseHere(bytes, allowLight, &batching);
        batching.flush();
        queue.close();
    });
    Batch batch;
    QStringView fields[16];
    while (queue.pop(&batch)) {
        size_t field = 0;
        qsizetype start = 0;
        for (const qint8 row : batch.rows) {
            if (row < 0) {
                sink->begin();
                continue;
            }
            const qsizetype count = fieldsOf(Row(row)).size();
            for (qsizetype i = 0; i < count; ++i, ++field) {
                fields[i] = QStringView(batch.text).mid(start, batch.ends[field] - start);
                start = batch.ends[field];
            }
            sink->row(Row(row), fields);
        }
    }
    worker.join();
    return doc;
}

ReplyDocument ReplyDocument::parseHere(const QByteArray &bytes, bool allowLight, ElementSink *sink)
{
    bool decode = needsDecoding(bytes);
    ReplyDocument doc;
    bool skippedComplex = false;
    bool ok = doc.build(bytes, decode, allowLight, sink, &skippedComplex);
    if (!ok && !decode && !isValidUtf8(bytes)) {
        // Malformed UTF-8: decoding replaces the bad sequences, as the service's
        // text is read everywhere else. The sink starts again with the body.
        decode = true;
        doc = ReplyDocument();
        ok = doc.build(bytes, decode, allowLight, sink, &skippedComplex);
    }
    if (ok && skippedComplex) {
        // A left-out element had elements of its own inside: the windows get the
        // whole tree (the sink already had every element).
        const bool fed = doc.m_fedSink;
        doc = ReplyDocument();
        doc.build(bytes, decode, false, nullptr, &skippedComplex);
        doc.m_fedSink = fed;
    }
    return doc;
}

bool ReplyDocument::build(const QByteArray &bytes, bool decode, bool allowLight, ElementSink *sink,
                          bool *skippedComplex)
{
    *skippedComplex = false;
    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);
    // Read through a device: the reader then decodes a few kilobytes at a time
    // instead of a copy of the whole reply.
    QBuffer buffer;
    if (decode) {
        reader.addData(QString::fromUtf8(bytes));
    } else {
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
    }

    QDomDocument document;
    QDomNode current; // null while at the top level
    // The document gets its storage with its first node, so the top level is
    // looked up after the node is created.
    const auto append = [&](const QDomNode &node) {
        (current.isNull() ? static_cast<QDomNode &>(document) : current).appendChild(node);
    };
    int depth = 0;          // element depth of `current`
    int bodyDepth = -1;     // depth of the first body element while inside it
    int skipDepth = -1;     // depth of the bulk element being left out
    bool bodySeen = false;
    bool statusSeen = false;
    bool lightBody = false; // the body being read leaves bulk elements out
    QList<bool> folderStack; // per open element below the body: is it a "folder"?
    int openFolders = 0;
    QDomElement body, validation, statusDescription, statusNumber;

    // Hands a catalogue element of a light body to the sink.
    const auto feed = [&](QStringView name) {
        const bool folder = name == QLatin1String("folder");
        folderStack.append(folder);
        if (!sink || !lightBody)
            return;
        if (name == QLatin1String("metadatoValue"))
            sink->element(Row::Value, reader.attributes());
        else if (name == QLatin1String("file"))
            sink->element(Row::File, reader.attributes());
        else if (name == QLatin1String("metadato") && openFolders > 0)
            sink->element(Row::Index, reader.attributes());
        else if (folder)
            sink->element(Row::Folder, reader.attributes());
        else if (name == QLatin1String("policie"))
            sink->element(Row::Policy, reader.attributes());
        else if (name == QLatin1String("bucket"))
            sink->element(Row::Bucket, reader.attributes());
        if (folder)
            ++openFolders;
    };
    const auto leave = [&] {
        if (!folderStack.isEmpty() && folderStack.takeLast())
            --openFolders;
    };

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (skipDepth >= 0) {
            if (token == QXmlStreamReader::StartElement) {
                *skippedComplex = true;
                ++depth;
                feed(reader.qualifiedName());
            } else if (token == QXmlStreamReader::EndElement) {
                if (depth == skipDepth)
                    skipDepth = -1;
                --depth;
                leave();
            }
            continue;
        }
        switch (token) {
        case QXmlStreamReader::StartDocument: {
            QString data = QStringLiteral("version='%1'").arg(reader.documentVersion().toString());
            if (!reader.documentEncoding().isEmpty())
                data += QStringLiteral(" encoding='%1'").arg(reader.documentEncoding().toString());
            if (reader.isStandaloneDocument())
                data += QStringLiteral(" standalone='yes'");
            append(document.createProcessingInstruction(QStringLiteral("xml"), data));
            break;
        }
        case QXmlStreamReader::StartElement: {
            ++depth;
            const QStringView name = reader.qualifiedName();
            if (bodyDepth >= 0)
                feed(name);
            if (lightBody && bodyDepth >= 0 && isBulkTag(name)) {
                m_light = true;
                skipDepth = depth;
                break;
            }
            QDomElement element = document.createElement(name.toString());
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute &a : attributes)
                element.setAttribute(a.qualifiedName().toString(), a.value().toString());
            append(element);
            current = element;
            if (name == QLatin1String("statusnumber") && !statusSeen) {
                statusSeen = true;
                statusNumber = element;
            } else if (name == QLatin1String("body") && !bodySeen) {
                bodySeen = true;
                bodyDepth = depth;
                body = element;
                // The status must be known (and be a catalogue status) before the
                // body starts; otherwise the whole body is kept.
                const QString status = statusNumber.isNull() ? QString() : statusNumber.text();
                lightBody = allowLight
                    && (status == QLatin1String("1") || status == QLatin1String("5"));
                if (lightBody && sink) {
                    m_fedSink = true;
                    sink->begin();
                }
            } else if (name == QLatin1String("statusdescription") && bodyDepth >= 0
                       && statusDescription.isNull()) {
                statusDescription = element;
            } else if (name == QLatin1String("validation") && validation.isNull()) {
                validation = element;
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (depth == bodyDepth)
                bodyDepth = -1;
            else if (bodyDepth >= 0)
                leave();
            --depth;
            current = current.parentNode();
            if (current == document)
                current = QDomNode();
            break;
        case QXmlStreamReader::Characters:
            if (reader.isCDATA())
                append(document.createCDATASection(reader.text().toString()));
            else if (!reader.isWhitespace())
                append(document.createTextNode(reader.text().toString()));
            break;
        case QXmlStreamReader::Comment:
            append(document.createComment(reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            append(document.createProcessingInstruction(
                reader.processingInstructionTarget().toString(),
                reader.processingInstructionData().toString()));
            break;
        case QXmlStreamReader::EntityReference:
            append(document.createEntityReference(reader.name().toString()));
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        *skippedComplex = false;
        m_light = false;
        return false;
    }
    m_valid = true;
    m_decoded = decode;
    m_document = document;
    m_body = body;
    m_validation = validation;
    m_statusNumber = statusNumber.isNull() ? QString() : statusNumber.text();
    m_statusDescription = statusDescription.isNull() ? QString() : statusDescription.text();
    return true;
}

QString ReplyDocument::validationText() const
{
    if (m_validation.isNull())
        return QString();
    QString text;
    QTextStream stream(&text);
    m_validation.save(stream, 4);
    stream.flush();
    return text;
}
