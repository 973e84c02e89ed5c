// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conserve/receiptwriter.h"

#include "app/prompts.h"
#include "app/transferrate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTextOption>

namespace {

const char PreservedAtFormat[] = "dd/MM/yyyy hh:mm:ss";

QString tr(const char *text)
{
    return QCoreApplication::translate("ReceiptWriter", text);
}

QString cell(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("<span style=\"color:#8a8f96\">—</span>") : text.toHtmlEscaped();
}

// Hashes and tokens: a fixed-width face, so that they read (and can be
// compared) character by character.
QString code(const QString &text)
{
    return text.isEmpty() ? cell(text)
                          : QStringLiteral("<span style=\"font-family:'DejaVu Sans Mono','Noto Sans Mono',monospace;\">")
                                + text.toHtmlEscaped() + QStringLiteral("</span>");
}

QString row(const QString &label, const QString &valueHtml)
{
    return QStringLiteral("<tr><td width=\"36%\" bgcolor=\"#eef3f8\" style=\"color:#33475b;\">") + label.toHtmlEscaped()
           + QStringLiteral("</td><td width=\"64%\">") + valueHtml + QStringLiteral("</td></tr>");
}

QString section(const QString &title, const QString &rows)
{
    return QStringLiteral("<p style=\"font-size:12pt; font-weight:bold; color:#0b4f8a; margin-top:16px; "
                          "margin-bottom:6px;\">")
           + title.toHtmlEscaped()
           + QStringLiteral("</p><table width=\"100%\" cellspacing=\"0\" cellpadding=\"6\" border=\"1\" "
                            "style=\"border-collapse:collapse; border-color:#c5d1dd; border-style:solid;\">")
           + rows + QStringLiteral("</table>");
}

QString sizeText(qint64 size)
{
    if (size < 0)
        return QString();
    const QString bytes = QLocale(QLocale::Italian, QLocale::Italy).toString(size) + tr(" byte");
    return size < 1000 ? bytes : bytes + QStringLiteral(" (") + TransferRate::formatSize(double(size)) + QLatin1Char(')');
}

} // namespace

QString ReceiptWriter::html(const PreservationReceipt &r, const QDateTime &generatedAt)
{
    QString document = row(tr("Nome file"), cell(r.fileName)) + row(tr("Percorso locale"), cell(r.localPath))
                       + row(tr("Dimensione"), sizeText(r.size).isEmpty() ? cell(QString()) : cell(sizeText(r.size)))
                       + row(tr("Impronta SHA-1"), code(r.hash));
    if (!r.replacedHash.isEmpty())
        document += row(tr("Versione sostituita"), code(r.replacedHash));

    const QString preservation = row(tr("Classe"), cell(r.className)) + row(tr("Profilo"), cell(r.profileName))
                                 + row(tr("Data e ora di conservazione"), cell(r.preservedAt))
                                 + row(tr("Token di conservazione"), code(r.token)) + row(tr("Utente"), cell(r.user))
                                 + row(tr("Computer"), cell(r.computerName))
                                 + row(tr("Servizio"), cell(r.serviceUrl));

    QString indexes;
    for (const auto &value : r.indexValues)
        indexes += row(value.first, cell(value.second));
    if (indexes.isEmpty())
        indexes = QStringLiteral("<tr><td style=\"color:#5b6570;\">") + tr("La classe non prevede indici.").toHtmlEscaped()
                  + QStringLiteral("</td></tr>");

    const QString intro = r.replacedHash.isEmpty()
                              ? tr("Il servizio di conservazione ha preso in carico il documento descritto qui sotto "
                                   "e lo ha conservato con il token indicato.")
                              : tr("Il servizio di conservazione ha sostituito la versione indicata con il documento "
                                   "descritto qui sotto e lo ha conservato con il token indicato.");
    const QString footer = tr("Ricevuta generata da Tavrel Lite %1 il %2 alle %3.")
                               .arg(QStringLiteral(TAVREL_VERSION), generatedAt.toString(QStringLiteral("dd/MM/yyyy")),
                                    generatedAt.toString(QStringLiteral("hh:mm:ss")));

    return QStringLiteral("<html><body>"
                          "<p style=\"font-size:20pt; font-weight:bold; color:#0b4f8a; margin-bottom:2px;\">")
           + tr("Ricevuta di conservazione").toHtmlEscaped()
           + QStringLiteral("</p><p style=\"color:#5b6570; margin-bottom:8px;\">") + intro.toHtmlEscaped()
           + QStringLiteral("</p>") + section(tr("Documento"), document)
           + section(tr("Conservazione"), preservation) + section(tr("Indici"), indexes)
           + QStringLiteral("<p style=\"color:#5b6570; margin-top:16px;\">")
           + tr("L'impronta SHA-1 identifica il contenuto: un file con la stessa impronta è identico a quello "
                "conservato. Il token identifica la conservazione presso il servizio.")
                 .toHtmlEscaped()
           + QStringLiteral("</p><p style=\"color:#5b6570; font-size:8pt; margin-top:12px;\">") + footer.toHtmlEscaped()
           + QStringLiteral("</p></body></html>");
}

bool ReceiptWriter::write(const PreservationReceipt &receipt, const QString &path, QString *error,
                          const QDateTime &generatedAt)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    {
        QPdfWriter pdf(&file);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 18, 20, 18),
                                      QPageLayout::Millimeter));
        // Device pixels of a screen: the document's spacings keep their size.
        pdf.setResolution(96);
        pdf.setTitle(tr("Ricevuta di conservazione - %1").arg(receipt.fileName));
        pdf.setCreator(QStringLiteral("Tavrel Lite ") + QStringLiteral(TAVREL_VERSION));

        QTextDocument doc;
        doc.documentLayout()->setPaintDevice(&pdf);
        QFont font;
        font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans"), QStringLiteral("Sans Serif")});
        font.setPointSizeF(10);
        // No ligatures: the text taken from the PDF (a search, a copy) reads
        // exactly as written.
        font.setStyleStrategy(QFont::PreferNoShaping);
        doc.setDefaultFont(font);
        // Long paths, tokens and values break anywhere rather than run off the page.
        QTextOption option = doc.defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        doc.setDefaultTextOption(option);
        doc.setDocumentMargin(0);
        doc.setHtml(html(receipt, generatedAt));

        const QSizeF page(pdf.width(), pdf.height());
        doc.setPageSize(page);
        QPainter painter(&pdf);
        for (int i = 0; i < doc.pageCount(); ++i) {
            if (i > 0)
                pdf.newPage();
            painter.save();
            painter.translate(0, -i * page.height());
            doc.drawContents(&painter, QRectF(QPointF(0, i * page.height()), page));
            painter.restore();
        }
    }
    if (file.error() != QFileDevice::NoError || !file.commit()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

QString ReceiptWriter::defaultFileName(const PreservationReceipt &receipt)
{
    QDate date = QDateTime::fromString(receipt.preservedAt, QLatin1String(PreservedAtFormat)).date();
    if (!date.isValid())
        date = QDate::currentDate();
    QString name = receipt.fileName;
    // Whatever a name from another system holds, it stays one file name here.
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("ricevuta-") + name + QLatin1Char('-') + date.toString(QStringLiteral("yyyy-MM-dd"))
           + QStringLiteral(".pdf");
}

QString ReceiptWriter::saveAs(QWidget *parent, const PreservationReceipt &receipt)
{
    const QString title = tr("Salva ricevuta");
    if (receipt.token.isEmpty()) {
        Prompts::critical(parent, title,
                          tr("Il catalogo non contiene la conservazione di questo documento: aggiorna l'elenco e "
                             "riprova."));
        return QString();
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString path = Prompts::saveFileName(parent, title, QDir(folder).filePath(defaultFileName(receipt)),
                                         tr("Documenti PDF (*.pdf)"));
    if (path.isEmpty())
        return QString();
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString reason;
    if (!write(receipt, path, &reason)) {
        Prompts::critical(parent, title,
                          tr("Impossibile salvare la ricevuta in \"%1\": %2").arg(QDir::toNativeSeparators(path), reason));
        return QString();
    }
    return path;
}
