// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "infopages.h"

#include "exhibitorpage.h"

#include <QFileInfo>

namespace {

struct Page {
    const char *path;
    const char *title;
    QStringList text;
};

const QList<Page> &pages()
{
    static const QList<Page> all = {
        {"/kvshop/Help",
         "Aiuto",
         {QStringLiteral("Tavrel Lite conserva i tuoi documenti a norma: scegli un file, indica la classe a cui "
                         "appartiene, compila gli indici richiesti e premi \"Conserva\"."),
          QStringLiteral("Dalla finestra principale puoi cercare i documenti conservati, scaricarne una copia, "
                         "esibirli, vederne la storia e rettificarli con una nuova versione."),
          QStringLiteral("Per assistenza scrivi al supporto indicando il token di conservazione del documento.")}},
        {"/kvshop/BuyQuota",
         "Acquista spazio",
         {QStringLiteral("Lo spazio di un profilo si amplia con un pacchetto aggiuntivo."),
          QStringLiteral("Nel servizio di riferimento gli acquisti non sono attivi: per provare un profilo con più "
                         "spazio modifica il seed del servizio.")}},
        {"/kvshop/PasswordRecovery",
         "Recupero password",
         {QStringLiteral("Per recuperare la password scarica il modulo di richiesta, compilalo e invialo al "
                         "supporto seguendo le istruzioni contenute all'interno."),
          QStringLiteral("Nel servizio di riferimento le password degli account dimostrativi sono indicate nel "
                         "file README del servizio.")}},
        {"/kvshop/Survey",
         "La tua opinione",
         {QStringLiteral("Grazie per voler condividere la tua opinione su Tavrel Lite."),
          QStringLiteral("Il questionario non è disponibile nel servizio di riferimento.")}},
    };
    return all;
}

} // namespace

HttpResponse InfoPages::simple(int status, const QString &title, const QStringList &text)
{
    return HttpResponse::html(status, ExhibitorPage::simple(title, text));
}

std::optional<HttpResponse> InfoPages::page(const QByteArray &path)
{
    const QByteArray bare = path.endsWith('/') ? path.chopped(1) : path;
    for (const Page &p : pages()) {
        if (bare == p.path)
            return simple(200, QString::fromUtf8(p.title), p.text);
    }
    return std::nullopt;
}

HttpResponse InfoPages::notFound()
{
    return simple(404, QStringLiteral("Pagina non trovata"),
                  {QStringLiteral("L'indirizzo richiesto non esiste (errore 404).")});
}

HttpResponse InfoPages::redirect(const QByteArray &location)
{
    HttpResponse r = HttpResponse::text(302, "");
    return r.withHeader("Location", location);
}

HttpResponse InfoPages::updatePackage(const HttpRequest &request, const QString &packageFile)
{
    if (request.queryValue("platform") != "lin") {
        return simple(404, QStringLiteral("Aggiornamento non disponibile"),
                      {QStringLiteral("Non esiste un aggiornamento per la piattaforma indicata.")});
    }
    if (!packageFile.isEmpty()) {
        const QFileInfo info(packageFile);
        if (!info.isFile()) {
            return simple(503, QStringLiteral("Aggiornamento non disponibile"),
                          {QStringLiteral("Il pacchetto di aggiornamento non è leggibile.")});
        }
        return HttpResponse::attachment(info.absoluteFilePath(), info.size(), info.fileName());
    }
    HttpResponse zip;
    zip.contentType = "application/zip";
    zip.body = builtInPackage();
    return zip.withHeader("Content-Disposition", "attachment; filename=\"tavrellite-aggiornamento.zip\"");
}

// A ZIP archive (stored, not compressed) holding one text file.
QByteArray InfoPages::builtInPackage()
{
    const QByteArray name = "LEGGIMI.txt";
    const QByteArray data = QStringLiteral(
        "Pacchetto di aggiornamento del servizio di riferimento Tavrel.\n"
        "Il servizio è stato avviato senza --update-package: questo archivio serve solo a provare "
        "il percorso di aggiornamento del client.\n").toUtf8();
    quint32 table[256];
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data)
        crc = table[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
    crc ^= 0xFFFFFFFFu;
    QByteArray out;
    auto u16 = [&out](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    u32(0x04034b50); u16(10); u16(0x0800); u16(0); u16(0); u16(0x21);
    u32(crc); u32(quint32(data.size())); u32(quint32(data.size())); u16(quint16(name.size())); u16(0);
    out.append(name).append(data);
    const quint32 central = quint32(out.size());
    u32(0x02014b50); u16(20); u16(10); u16(0x0800); u16(0); u16(0); u16(0x21);
    u32(crc); u32(quint32(data.size())); u32(quint32(data.size())); u16(quint16(name.size()));
    u16(0); u16(0); u16(0); u16(0); u32(0); u32(0);
    out.append(name);
    const quint32 centralSize = quint32(out.size()) - central;
    u32(0x06054b50); u16(0); u16(0); u16(1); u16(1); u32(centralSize); u32(central); u16(0);
    return out;
}
