// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "exhibitorpage.h"

#include <QFileInfo>
#include <QLocale>
#include <QStringList>

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString humanSize(qint64 bytes)
{
    const QLocale it(QLocale::Italian, QLocale::Italy);
    if (bytes < 1024)
        return QStringLiteral("%1 byte").arg(bytes);
    return QStringLiteral("%1 (%2 byte)").arg(it.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat)).arg(bytes);
}

} // namespace

QByteArray ExhibitorPage::wrap(const QString &title, const QString &bodyHtml)
{
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\n<html lang=\"it\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    html += QStringLiteral("<title>%1 - Tavrel</title>").arg(esc(title));
    html += QStringLiteral(
        "<style>"
        "body{font-family:'DejaVu Sans',Arial,sans-serif;background:#eef2f6;color:#1d2733;margin:0}"
        "header{background:#1f4e79;color:#fff;padding:18px 32px}"
        "header h1{margin:0;font-size:22px}header p{margin:4px 0 0;opacity:.85}"
        "main{max-width:860px;margin:24px auto;background:#fff;border-radius:6px;padding:24px 32px;"
        "box-shadow:0 1px 4px rgba(0,0,0,.12)}"
        "table{border-collapse:collapse;width:100%;margin:12px 0 20px}"
        "th,td{text-align:left;padding:7px 10px;border-bottom:1px solid #dde3ea;vertical-align:top}"
        "th{width:32%;color:#44546a;font-weight:600}"
        "code{font-family:'DejaVu Sans Mono',monospace;word-break:break-all}"
        "a.button{display:inline-block;background:#2a82da;color:#fff;padding:10px 18px;border-radius:4px;"
        "text-decoration:none}"
        "footer{text-align:center;color:#6b7785;font-size:12px;margin:16px}"
        "</style></head><body>");
    html += QStringLiteral("<header><h1>Tavrel</h1><p>Servizio di conservazione dei documenti</p></header>");
    html += QStringLiteral("<main>") + bodyHtml + QStringLiteral("</main>");
    html += QStringLiteral("<footer>Servizio di riferimento Tavrel</footer></body></html>\n");
    return html.toUtf8();
}

QByteArray ExhibitorPage::document(const Document &doc)
{
    const QString name = QFileInfo(QString(doc.filename).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
    QString body;
    body += QStringLiteral("<h2>Esibizione a norma del documento</h2>");
    body += QStringLiteral("<p>Il documento indicato di seguito è conservato dal servizio. "
                           "L'impronta SHA-1 permette di verificare che la copia scaricata sia identica "
                           "a quella conservata.</p>");
    body += QStringLiteral("<table>");
    auto row = [&body](const QString &label, const QString &valueHtml) {
        body += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>").arg(esc(label), valueHtml);
    };
    row(QStringLiteral("Documento"), esc(name.isEmpty() ? doc.filename : name));
    row(QStringLiteral("Percorso originale"), esc(doc.filename));
    row(QStringLiteral("Classe"), esc(doc.className) + (doc.groupName.isEmpty() ? QString()
                                                        : QStringLiteral(" (gruppo %1)").arg(esc(doc.groupName))));
    row(QStringLiteral("Profilo"), esc(doc.profileName));
    row(QStringLiteral("Impronta SHA-1"), QStringLiteral("<code>%1</code>").arg(esc(doc.hash)));
    row(QStringLiteral("Token di conservazione"), QStringLiteral("<code>%1</code>").arg(esc(doc.token)));
    row(QStringLiteral("Data di conservazione"), esc(doc.tsconserve));
    row(QStringLiteral("Ultima modifica del file"), esc(doc.lastModified));
    row(QStringLiteral("Dimensione"), esc(humanSize(doc.filesize)));
    row(QStringLiteral("Postazione"), esc(doc.computerName));
    row(QStringLiteral("Versione"), QStringLiteral("%1 di %2").arg(doc.version).arg(doc.versions));
    body += QStringLiteral("</table>");
    body += QStringLiteral("<h3>Indici</h3>");
    if (doc.indexValues.isEmpty()) {
        body += QStringLiteral("<p>Nessun indice valorizzato.</p>");
    } else {
        body += QStringLiteral("<table>");
        for (const auto &pair : doc.indexValues)
            row(pair.first, esc(pair.second));
        body += QStringLiteral("</table>");
    }
    body += QStringLiteral("<p><a class=\"button\" href=\"%1\">Scarica questa versione</a></p>").arg(esc(doc.downloadUrl));
    body += QStringLiteral("<p><small>Il collegamento per lo scaricamento resta valido per 15 minuti.</small></p>");
    return wrap(QStringLiteral("Esibizione a norma"), body);
}

QByteArray ExhibitorPage::simple(const QString &title, const QStringList &paragraphs)
{
    QString body = QStringLiteral("<h2>%1</h2>").arg(esc(title));
    for (const QString &p : paragraphs)
        body += QStringLiteral("<p>%1</p>").arg(esc(p));
    return wrap(title, body);
}
