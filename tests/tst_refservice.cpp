// The reference service through real HTTP: each action's success and failure
// shapes, the synchronisation cursor, uploads, validation, quota,
// rectification with history and restore, exhibition, password change.

#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_refservice_client.h"

#include <QtTest>

namespace {

const QString Seed = QStringLiteral(TAVREL_FIXTURES_DIR "/refservice_seed.json");

QList<QPair<QString, QString>> goodValues(const QString &number = QStringLiteral("F-1"))
{
    return {{QStringLiteral("101"), number},
            {QStringLiteral("102"), QStringLiteral("1.234,56")},
            {QStringLiteral("103"), QStringLiteral("29/02/2024")},
            {QStringLiteral("104"), QString()}};
}

RestReply conserve(ServiceClient &c, const QString &hash, int folder, const QList<QPair<QString, QString>> &values,
                   const QString &previous = QString())
{
    QList<QPair<QString, QString>> fields = {{QStringLiteral("hash"), hash}};
    if (!previous.isEmpty())
        fields.append({QStringLiteral("hashprecedente"), previous});
    fields.append({QStringLiteral("folderid"), QString::number(folder)});
    fields.append({QStringLiteral("computername"), QStringLiteral("postazione-test")});
    return c.action(previous.isEmpty() ? QStringLiteral("savevaluemetadati") : QStringLiteral("sostituiscivaluemetadati"),
                    fields, values);
}

QDomElement bucketById(const RestReply &r, const QString &id)
{
    for (const QDomElement &b : r.all(QStringLiteral("bucket"))) {
        if (b.attribute(QStringLiteral("id")) == id)
            return b;
    }
    return {};
}

} // namespace

class TestRefService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void demoSeedAndPages();
    void loginAndSessionRules();
    void malformedRequestsChangeNothing();
    void uploadConserveAndCursor();
    void validationMessagesPerField();
    void quotaIsEnforced();
    void rectificationHistoryAndRestore();
    void exhibitionCodeIsOneTime();
    void otherUsersFilesAreInvisible();
    void racingConservesOfOneUpload();
    void passwordRules();

private:
    RefServiceFixture m_service{Seed};
};

void TestRefService::initTestCase()
{
    QVERIFY2(m_service.start(), qPrintable(m_service.errorString()));
}

void TestRefService::demoSeedAndPages()
{
    RefServiceFixture demo;
    QVERIFY2(demo.start(), qPrintable(demo.errorString()));
    ServiceClient c(demo.baseUrl());
    for (const QString &page : {QStringLiteral("/kvshop/Help/"), QStringLiteral("/kvshop/BuyQuota/"),
                               QStringLiteral("/kvshop/PasswordRecovery/"), QStringLiteral("/kvshop/Survey/")}) {
        const RestReply r = c.get(page);
        QCOMPARE(r.http, 200);
        QVERIFY2(r.raw.contains("lang=\"it\""), page.toUtf8());
    }
    QCOMPARE(c.login(QStringLiteral("verdi"), QStringLiteral("Archivio2026")).status, QStringLiteral("1"));
    const RestReply r = c.login(QStringLiteral("demo"), QStringLiteral("Tavrel2026"));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("1"));
    const QList<QDomElement> buckets = r.all(QStringLiteral("bucket"));
    QVERIFY(buckets.size() >= 2);
    bool withQuota = false, withoutQuota = false;
    for (const QDomElement &b : buckets) {
        withQuota = withQuota || b.attribute(QStringLiteral("quota")).toLongLong() > 0;
        withoutQuota = withoutQuota || b.attribute(QStringLiteral("quota")) == QLatin1String("0");
        QVERIFY(b.attribute(QStringLiteral("div")).toLongLong() > 0);
    }
    QVERIFY(withQuota && withoutQuota);
    QSet<QString> groups, types;
    bool required = false, optional = false;
    for (const QDomElement &f : r.all(QStringLiteral("folder"))) {
        groups.insert(f.attribute(QStringLiteral("groups")));
        const QDomNodeList indexes = f.elementsByTagName(QStringLiteral("metadato"));
        for (int i = 0; i < indexes.size(); ++i) {
            const QDomElement m = indexes.at(i).toElement();
            QCOMPARE(m.attribute(QStringLiteral("idfolder")), f.attribute(QStringLiteral("id")));
            types.insert(m.attribute(QStringLiteral("type")));
            required = required || m.attribute(QStringLiteral("required")) == QLatin1String("1");
            optional = optional || m.attribute(QStringLiteral("required")) == QLatin1String("0");
        }
    }
    QVERIFY(groups.size() >= 3);
    QCOMPARE(types, (QSet<QString>{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    QVERIFY(required && optional);
    // The seeded documents come with their tokens and index values.
    const QList<QDomElement> files = r.all(QStringLiteral("file"));
    QVERIFY(!files.isEmpty());
    for (const QDomElement &f : files)
        QVERIFY(!f.attribute(QStringLiteral("token")).isEmpty());
    QVERIFY(!r.all(QStringLiteral("metadatoValue")).isEmpty());
}

void TestRefService::loginAndSessionRules()
{
    ServiceClient c(m_service.baseUrl());
    RestReply r = c.login(QStringLiteral("anna"), QStringLiteral("sbagliata1"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("0"));
    QVERIFY(!r.description.isEmpty());

    // No session yet: every action but login answers "19".
    for (const QString &action : {QStringLiteral("syncfolder"), QStringLiteral("history"), QStringLiteral("changePWD"),
                                 QStringLiteral("ripristina"), QStringLiteral("getexhibitorconfig")}) {
        r = c.action(action);
        QCOMPARE(r.http, 500);
        QCOMPARE(r.status, QStringLiteral("19"));
    }
    r = c.upload(11, "abc", QStringLiteral("/tmp/a.txt"));
    QCOMPARE(r.status, QStringLiteral("19"));

    r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("1"));
    const QByteArray cookie = r.header("set-cookie");
    QVERIFY(cookie.contains("Path=/"));
    QVERIFY(cookie.contains("HttpOnly"));
    QCOMPARE(r.all(QStringLiteral("bucket")).size(), 2);
    QCOMPARE(r.all(QStringLiteral("policie")).size(), 2);
    QCOMPARE(r.all(QStringLiteral("folder")).size(), 3);

    r = c.sync(QStringLiteral("0.0"));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("5"));
    QCOMPARE(r.all(QStringLiteral("folder")).size(), 3);

    r = c.action(QStringLiteral("cancellatutto"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("2"));
    QVERIFY(r.description.contains(QStringLiteral("cancellatutto")));
}

void TestRefService::malformedRequestsChangeNothing()
{
    ServiceClient c(m_service.baseUrl());
    QCOMPARE(c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026")).status, QStringLiteral("1"));
    const QByteArray before = c.sync(QStringLiteral("0.0")).raw;

    struct Case {
        const char *name;
        QByteArray body;
    };
    const QList<Case> cases = {
        {"truncated", "<?xml version=\"1.0\"?><request><action>syncfolder</action><codes"},
        {"not xml", "login please"},
        {"wrong root", "<?xml version=\"1.0\"?><richiesta><action>syncfolder</action></richiesta>"},
        {"no action", "<?xml version=\"1.0\"?><request><codesync>0</codesync></request>"},
        {"entity bomb", "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                        "<request><action>changePWD</action><newpwd>&b;</newpwd></request>"},
        {"external entity", "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                            "<request><action>syncfolder</action><codesync>&x;</codesync></request>"},
        {"undeclared entity", "<?xml version=\"1.0\"?><request><action>syncfolder</action><codesync>&x;</codesync></request>"},
        {"huge field", "<?xml version=\"1.0\"?><request><action>history</action><hash>" + QByteArray(100000, 'a')
                           + "</hash></request>"},
        {"nested markup", "<?xml version=\"1.0\"?><request><action>history</action><hash><b>x</b></hash></request>"},
        {"oversized", "<?xml version=\"1.0\"?><request><action>syncfolder</action><codesync>"
                          + QByteArray(5 * 1024 * 1024, '1') + "</codesync></request>"},
    };
    for (const Case &k : cases) {
        const RestReply r = c.post(k.body);
        QVERIFY2(r.http == 500, k.name);
        QVERIFY2(!r.status.isEmpty() && r.status != QLatin1String("5"), k.name);
        QVERIFY2(!r.description.isEmpty(), k.name);
    }
    const RestReply tooMany = c.post("<?xml version=\"1.0\"?><request><action>savevaluemetadati</action>"
                                     + QByteArray("<metadato key=\"1\" value=\"v\"/>").repeated(1001) + "</request>");
    QCOMPARE(tooMany.http, 500);
    QVERIFY2(tooMany.description.contains(QStringLiteral("1000")), qPrintable(tooMany.description));
    // An action's own missing fields: that action's failure code.
    QCOMPARE(c.action(QStringLiteral("history")).status, QStringLiteral("30"));
    QCOMPARE(c.action(QStringLiteral("ripristina")).status, QStringLiteral("18"));
    QCOMPARE(c.action(QStringLiteral("savevaluemetadati")).status, QStringLiteral("16"));
    QCOMPARE(c.action(QStringLiteral("uploadfile")).status, QStringLiteral("13"));
    QCOMPARE(c.sync(QStringLiteral("0.0")).raw, before);
}

void TestRefService::uploadConserveAndCursor()
{
    ServiceClient c(m_service.baseUrl());
    RestReply r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const qint64 usedBefore = bucketById(r, QStringLiteral("P-ANNA")).attribute(QStringLiteral("used")).toLongLong();
    const QByteArray content = "fattura numero uno\n";
    const QString hash = sha1Hex(content);

    // The declared fingerprint must be the one of the bytes received.
    r = c.upload(11, content, QStringLiteral("/home/anna/fattura.txt"), QString(), sha1Hex("altro contenuto"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("13"));
    QVERIFY(r.description.contains(hash));
    // Nothing was uploaded, so nothing can be conserved.
    QCOMPARE(conserve(c, hash, 11, goodValues()).status, QStringLiteral("16"));
    // A class of another account (bruno's 21) or an unknown one.
    QCOMPARE(c.upload(21, content, QStringLiteral("/home/anna/fattura.txt")).status, QStringLiteral("13"));
    QCOMPARE(c.upload(999, content, QStringLiteral("/home/anna/fattura.txt")).status, QStringLiteral("13"));

    r = c.upload(11, content, QStringLiteral("/home/anna/fattura.txt"));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("14"));
    const QList<QDomElement> defs = r.all(QStringLiteral("metadato"));
    QCOMPARE(defs.size(), 4);
    QCOMPARE(defs.at(0).attribute(QStringLiteral("idmetadato")), QStringLiteral("101"));
    QCOMPARE(defs.at(0).attribute(QStringLiteral("name")), QStringLiteral("Numero"));
    QCOMPARE(defs.at(0).attribute(QStringLiteral("required")), QStringLiteral("1"));
    QCOMPARE(defs.at(1).attribute(QStringLiteral("type")), QStringLiteral("2"));
    QCOMPARE(defs.at(2).attribute(QStringLiteral("type")), QStringLiteral("3"));
    QCOMPARE(defs.at(0).attribute(QStringLiteral("tooltip")), QStringLiteral("Numero del documento"));
    QCOMPARE(defs.at(3).attribute(QStringLiteral("required")), QStringLiteral("0"));
    QVERIFY(defs.at(0).text().isEmpty());

    r = conserve(c, hash, 11, goodValues(QStringLiteral("A&B <1>")));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("15"));
    const QString token = r.body.elementsByTagName(QStringLiteral("token")).at(0).toElement().text();
    QVERIFY(!token.isEmpty());
    const QRegularExpression stamp(QStringLiteral("^\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}$"));
    QVERIFY(stamp.match(r.body.elementsByTagName(QStringLiteral("tsconserve")).at(0).toElement().text()).hasMatch());

    // Conserving the same content twice in one class is refused.
    QCOMPARE(c.upload(11, content, QStringLiteral("/home/anna/copia.txt")).status, QStringLiteral("13"));

    r = c.sync(QStringLiteral("0.0"));
    QCOMPARE(r.status, QStringLiteral("5"));
    QDomElement file;
    for (const QDomElement &f : r.all(QStringLiteral("file"))) {
        if (f.attribute(QStringLiteral("hash")) == hash)
            file = f;
    }
    QVERIFY(!file.isNull());
    QCOMPARE(file.attribute(QStringLiteral("token")), token);
    QCOMPARE(file.attribute(QStringLiteral("filename")), QStringLiteral("/home/anna/fattura.txt"));
    QCOMPARE(file.attribute(QStringLiteral("idfolder")), QStringLiteral("11"));
    QCOMPARE(file.attribute(QStringLiteral("idbuckets")), QStringLiteral("P-ANNA"));
    QCOMPARE(file.attribute(QStringLiteral("username")), QStringLiteral("anna"));
    QCOMPARE(file.attribute(QStringLiteral("hash4k")), sha1Hex(content.left(4096)));
    QCOMPARE(file.attribute(QStringLiteral("last_modified")), QStringLiteral("06/12/2026 10:11:12"));
    QCOMPARE(file.attribute(QStringLiteral("computer_name")), QStringLiteral("postazione-test"));
    bool valueFound = false;
    for (const QDomElement &v : r.all(QStringLiteral("metadatoValue"))) {
        if (v.attribute(QStringLiteral("hash")) == hash && v.attribute(QStringLiteral("key")) == QLatin1String("101")) {
            QCOMPARE(v.attribute(QStringLiteral("value")), QStringLiteral("A&B <1>"));
            valueFound = true;
        }
    }
    QVERIFY(valueFound);
    QCOMPARE(bucketById(r, QStringLiteral("P-ANNA")).attribute(QStringLiteral("used")).toLongLong(),
             usedBefore + content.size());

    // The cursor: the client keeps tsupdate as a real number and sends back its
    // text; the stamp survives that round trip and only newer files come back.
    const QString tsText = file.attribute(QStringLiteral("tsupdate"));
    const double asReal = tsText.toDouble();
    QCOMPARE(QString::number(asReal, 'g', 17), tsText);
    const QString cursor = QString::number(asReal, 'f', 1); // what SQLite's max() text gives: "N.0"
    r = c.sync(cursor);
    QCOMPARE(r.all(QStringLiteral("file")).size(), 0);
    QCOMPARE(r.all(QStringLiteral("metadatoValue")).size(), 0);
    QCOMPARE(r.all(QStringLiteral("folder")).size(), 3); // classes always in full

    const QByteArray second = "seconda fattura\n";
    QCOMPARE(c.upload(11, second, QStringLiteral("/home/anna/fattura2.txt")).status, QStringLiteral("14"));
    QCOMPARE(conserve(c, sha1Hex(second), 11, goodValues(QStringLiteral("F-2"))).status, QStringLiteral("15"));
    r = c.sync(cursor);
    const QList<QDomElement> newer = r.all(QStringLiteral("file"));
    QCOMPARE(newer.size(), 1);
    QCOMPARE(newer.first().attribute(QStringLiteral("hash")), sha1Hex(second));
    QVERIFY(newer.first().attribute(QStringLiteral("tsupdate")).toDouble() > asReal);
}

void TestRefService::validationMessagesPerField()
{
    ServiceClient c(m_service.baseUrl());
    c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const QByteArray content = "documento da validare\n";
    const QString hash = sha1Hex(content);
    QCOMPARE(c.upload(11, content, QStringLiteral("/home/anna/v.txt")).status, QStringLiteral("14"));

    const QList<QPair<QString, QString>> bad = {{QStringLiteral("101"), QStringLiteral("   ")},
                                                {QStringLiteral("102"), QStringLiteral("dodici")},
                                                {QStringLiteral("103"), QStringLiteral("31/02/2024")},
                                                {QStringLiteral("999"), QStringLiteral("x")}};
    RestReply r = conserve(c, hash, 11, bad);
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("20"));
    const QList<QDomElement> fields = r.all(QStringLiteral("field"));
    QMap<QString, QString> messages;
    for (const QDomElement &f : fields)
        messages.insert(f.attribute(QStringLiteral("key")), f.attribute(QStringLiteral("message")));
    QCOMPARE(messages.keys(), (QStringList{QStringLiteral("101"), QStringLiteral("102"), QStringLiteral("103"),
                                           QStringLiteral("999")}));
    QVERIFY(messages.value(QStringLiteral("101")).contains(QStringLiteral("obbligatorio")));
    QVERIFY(messages.value(QStringLiteral("102")).contains(QStringLiteral("numero")));
    QVERIFY(messages.value(QStringLiteral("103")).contains(QStringLiteral("gg/mm/aaaa")));
    QVERIFY(r.doc.elementsByTagName(QStringLiteral("validation")).at(0).parentNode().nodeName() == QLatin1String("body"));

    // Dates must be real dates written dd/MM/yyyy; numbers may use Italian separators.
    const QList<QPair<QString, bool>> dates = {{QStringLiteral("1/2/2024"), false}, {QStringLiteral("2024-02-01"), false},
                                               {QStringLiteral("29/02/2023"), false}, {QStringLiteral("31/12/2023"), true}};
    for (const auto &d : dates) {
        r = conserve(c, hash, 11, {{QStringLiteral("101"), QStringLiteral("N")}, {QStringLiteral("102"), QStringLiteral("-7,5")},
                                   {QStringLiteral("103"), d.first}});
        if (d.second)
            QCOMPARE(r.status, QStringLiteral("15"));
        else
            QVERIFY2(r.status == QLatin1String("20") && r.all(QStringLiteral("field")).size() == 1, qPrintable(d.first));
    }
    // Once conserved, the upload is gone: a second conserve finds nothing to preserve.
    QCOMPARE(conserve(c, hash, 11, goodValues()).status, QStringLiteral("16"));
}

void TestRefService::quotaIsEnforced()
{
    ServiceClient c(m_service.baseUrl());
    RestReply r = c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const QDomElement b = bucketById(r, QStringLiteral("P-ANNA"));
    const qint64 free = b.attribute(QStringLiteral("quota")).toLongLong() - b.attribute(QStringLiteral("used")).toLongLong();
    QVERIFY(free > 10);
    r = c.upload(11, QByteArray(int(free) + 1, 'x'), QStringLiteral("/home/anna/grande.bin"));
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("13"));
    QVERIFY(r.description.contains(QStringLiteral("Spazio insufficiente")));
    QVERIFY(r.description.contains(QStringLiteral("Archivio di Anna")));
    QVERIFY(QDir(m_service.dataDir() + QStringLiteral("/tmp")).isEmpty());
    // Exactly the free space fits.
    const QByteArray fits(int(free), 'y');
    QCOMPARE(c.upload(11, fits, QStringLiteral("/home/anna/giusto.bin")).status, QStringLiteral("14"));
    QCOMPARE(conserve(c, sha1Hex(fits), 11, goodValues()).status, QStringLiteral("15"));
    r = c.sync(QStringLiteral("0.0"));
    QCOMPARE(bucketById(r, QStringLiteral("P-ANNA")).attribute(QStringLiteral("used")),
             bucketById(r, QStringLiteral("P-ANNA")).attribute(QStringLiteral("quota")));
    // A profile without quota takes anything.
    QCOMPARE(c.upload(13, QByteArray(50000, 'z'), QStringLiteral("/home/anna/libero.bin")).status, QStringLiteral("14"));
}

void TestRefService::rectificationHistoryAndRestore()
{
    ServiceClient c(m_service.baseUrl());
    c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const QByteArray v1 = "contratto, prima stesura\n";
    const QByteArray v2 = "contratto, stesura corretta\n";
    const QString h1 = sha1Hex(v1), h2 = sha1Hex(v2);
    QCOMPARE(c.upload(13, v1, QStringLiteral("/home/anna/contratto.txt")).status, QStringLiteral("14"));
    QCOMPARE(conserve(c, h1, 13, {{QStringLiteral("105"), QStringLiteral("prima")}}).status, QStringLiteral("15"));

    // Rectifying something that is not preserved is refused.
    QCOMPARE(c.upload(13, v2, QStringLiteral("/home/anna/contratto.txt"), sha1Hex("mai conservato")).status,
             QStringLiteral("26"));
    // The upload of the new version offers the replaced version's values.
    RestReply r = c.upload(13, v2, QStringLiteral("/home/anna/contratto-v2.txt"), h1);
    QCOMPARE(r.status, QStringLiteral("14"));
    QCOMPARE(r.all(QStringLiteral("metadato")).value(0).text(), QStringLiteral("prima"));
    r = conserve(c, h2, 13, {{QStringLiteral("105"), QStringLiteral("seconda")}}, h1);
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("25"));
    const QString token2 = r.body.elementsByTagName(QStringLiteral("token")).at(0).toElement().text();
    QVERIFY(!token2.isEmpty());

    // Only the current version is synchronised.
    r = c.sync(QStringLiteral("0.0"));
    QStringList hashes;
    for (const QDomElement &f : r.all(QStringLiteral("file")))
        hashes << f.attribute(QStringLiteral("hash"));
    QVERIFY(hashes.contains(h2));
    QVERIFY(!hashes.contains(h1));

    // The history lists the chain, newest first, from either version.
    for (const QString &h : {h1, h2}) {
        r = c.action(QStringLiteral("history"), {{QStringLiteral("hash"), h}, {QStringLiteral("folderid"), QStringLiteral("13")}});
        QCOMPARE(r.http, 200);
        QCOMPARE(r.status, QStringLiteral("29"));
        const QList<QDomElement> versions = r.all(QStringLiteral("file"));
        QCOMPARE(versions.size(), 2);
        QCOMPARE(versions.at(0).attribute(QStringLiteral("hash")), h2);
        QCOMPARE(versions.at(0).attribute(QStringLiteral("token")), token2);
        QCOMPARE(versions.at(0).attribute(QStringLiteral("filename")), QStringLiteral("/home/anna/contratto-v2.txt"));
        QCOMPARE(versions.at(0).attribute(QStringLiteral("filesize")), QString::number(v2.size()));
        QCOMPARE(versions.at(0).attribute(QStringLiteral("idfolders")), QStringLiteral("13"));
        QVERIFY(!versions.at(0).attribute(QStringLiteral("tsfiles")).isEmpty());
        QCOMPARE(versions.at(1).attribute(QStringLiteral("hash")), h1);
    }
    // A replaced version cannot be replaced again.
    QCOMPARE(c.upload(13, "terza\n", QStringLiteral("/home/anna/c3.txt"), h1).status, QStringLiteral("26"));

    // Restore serves any version's exact bytes.
    for (const auto &[h, bytes] : {std::pair{h1, v1}, std::pair{h2, v2}}) {
        r = c.action(QStringLiteral("ripristina"), {{QStringLiteral("hash"), h}, {QStringLiteral("folderid"), QStringLiteral("13")}});
        QCOMPARE(r.http, 200);
        QCOMPARE(r.raw, bytes);
    }
    r = c.action(QStringLiteral("ripristina"), {{QStringLiteral("hash"), sha1Hex("nulla")}, {QStringLiteral("folderid"), QStringLiteral("13")}});
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("18"));

    // Rectifying with identical content is allowed and keeps one current version.
    QCOMPARE(c.upload(13, v2, QStringLiteral("/home/anna/contratto-v2.txt"), h2).status, QStringLiteral("14"));
    QCOMPARE(conserve(c, h2, 13, {{QStringLiteral("105"), QStringLiteral("terza")}}, h2).status, QStringLiteral("25"));
    r = c.action(QStringLiteral("history"), {{QStringLiteral("hash"), h2}, {QStringLiteral("folderid"), QStringLiteral("13")}});
    QCOMPARE(r.all(QStringLiteral("file")).size(), 3);
    r = c.sync(QStringLiteral("0.0"));
    int current = 0;
    for (const QDomElement &f : r.all(QStringLiteral("file")))
        current += f.attribute(QStringLiteral("hash")) == h2 ? 1 : 0;
    QCOMPARE(current, 1);
}

void TestRefService::exhibitionCodeIsOneTime()
{
    ServiceClient c(m_service.baseUrl());
    c.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const QByteArray content = "verbale <riservato>\n";
    const QString name = QStringLiteral("/home/anna/../<script>alert(1)</script> & verbale.txt");
    QCOMPARE(c.upload(13, content, name).status, QStringLiteral("14"));
    RestReply r = conserve(c, sha1Hex(content), 13, {{QStringLiteral("105"), QStringLiteral("<b>grassetto</b>")}});
    QCOMPARE(r.status, QStringLiteral("15"));
    const QString token = r.body.elementsByTagName(QStringLiteral("token")).at(0).toElement().text();

    r = c.action(QStringLiteral("getexhibitorconfig"), {{QStringLiteral("token"), token}});
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("40"));
    const QString code = r.body.firstChildElement(QStringLiteral("exhibitor"))
                             .firstChildElement(QStringLiteral("unique_code"))
                             .attribute(QStringLiteral("value"));
    QVERIFY(code.size() >= 16);

    ServiceClient browser(m_service.baseUrl()); // no session cookie, like a web browser
    r = browser.get(QStringLiteral("/kvshop/Exhibitor?unique_code=") + code);
    QCOMPARE(r.http, 200);
    const QString page = QString::fromUtf8(r.raw);
    QVERIFY(page.contains(token));
    QVERIFY(page.contains(sha1Hex(content)));
    QVERIFY(page.contains(QStringLiteral("Varie")));
    QVERIFY(page.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; &amp; verbale.txt")));
    QVERIFY(!page.contains(QStringLiteral("<script>")));
    QVERIFY(page.contains(QStringLiteral("&lt;b&gt;grassetto&lt;/b&gt;")));
    const QRegularExpressionMatch link = QRegularExpression(QStringLiteral("href=\"(/kvshop/Exhibitor/download\\?key=[0-9a-f]+)\""))
                                             .match(page);
    QVERIFY(link.hasMatch());
    r = browser.get(link.captured(1));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.raw, content);

    // One use only.
    r = browser.get(QStringLiteral("/kvshop/Exhibitor?unique_code=") + code);
    QCOMPARE(r.http, 404);
    QVERIFY(!QString::fromUtf8(r.raw).contains(token));
    QCOMPARE(browser.get(QStringLiteral("/kvshop/Exhibitor?unique_code=")).http, 404);

    r = c.action(QStringLiteral("getexhibitorconfig"), {{QStringLiteral("token"), QStringLiteral("inesistente")}});
    QCOMPARE(r.http, 500);
    QCOMPARE(r.status, QStringLiteral("41"));
}

void TestRefService::otherUsersFilesAreInvisible()
{
    ServiceClient anna(m_service.baseUrl());
    anna.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    const QByteArray content = "solo di anna\n";
    const QString hash = sha1Hex(content);
    QCOMPARE(anna.upload(13, content, QStringLiteral("/home/anna/privato.txt")).status, QStringLiteral("14"));
    RestReply r = conserve(anna, hash, 13, {});
    QCOMPARE(r.status, QStringLiteral("15"));
    const QString token = r.body.elementsByTagName(QStringLiteral("token")).at(0).toElement().text();

    ServiceClient bruno(m_service.baseUrl());
    r = bruno.login(QStringLiteral("bruno"), QStringLiteral("Lavagna2026"));
    QCOMPARE(r.status, QStringLiteral("1"));
    QCOMPARE(r.all(QStringLiteral("file")).size(), 0);
    QCOMPARE(r.all(QStringLiteral("folder")).size(), 1);
    const QList<QPair<QString, QString>> target = {{QStringLiteral("hash"), hash}, {QStringLiteral("folderid"), QStringLiteral("13")}};
    QCOMPARE(bruno.action(QStringLiteral("ripristina"), target).status, QStringLiteral("18"));
    QCOMPARE(bruno.action(QStringLiteral("history"), target).status, QStringLiteral("30"));
    QCOMPARE(bruno.action(QStringLiteral("getexhibitorconfig"), {{QStringLiteral("token"), token}}).status, QStringLiteral("41"));
    // Bruno cannot conserve into Anna's class, even with her upload pending there.
    QCOMPARE(anna.upload(13, "in sospeso\n", QStringLiteral("/x")).status, QStringLiteral("14"));
    QCOMPARE(conserve(bruno, sha1Hex("in sospeso\n"), 13, {}).status, QStringLiteral("16"));
    QCOMPARE(conserve(anna, sha1Hex("in sospeso\n"), 13, {}).status, QStringLiteral("15"));
}

void TestRefService::racingConservesOfOneUpload()
{
    // Two sessions of the same user conserve the same upload at the same time:
    // exactly one preservation may come out of it.
    ServiceClient a(m_service.baseUrl()), b(m_service.baseUrl());
    a.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    b.login(QStringLiteral("anna"), QStringLiteral("Quaderno2026"));
    for (int round = 0; round < 10; ++round) {
        const QByteArray content = "gara " + QByteArray::number(round) + '\n';
        const QString hash = sha1Hex(content);
        QCOMPARE(a.upload(13, content, QStringLiteral("/home/anna/gara.txt")).status, QStringLiteral("14"));
        const QByteArray xml = "<?xml version=\"1.0\"?><request><action>savevaluemetadati</action><hash>" + hash.toLatin1()
            + "</hash><folderid>13</folderid><computername>pc</computername></request>";
        QNetworkReply *first = a.postAsync(xml);
        QNetworkReply *second = b.postAsync(xml);
        const QStringList statuses = {a.finish(first).status, b.finish(second).status};
        QCOMPARE(statuses.count(QStringLiteral("15")), 1);
        QCOMPARE(statuses.count(QStringLiteral("16")), 1);
        int listed = 0;
        for (const QDomElement &f : a.sync(QStringLiteral("0.0")).all(QStringLiteral("file")))
            listed += f.attribute(QStringLiteral("hash")) == hash ? 1 : 0;
        QCOMPARE(listed, 1);
    }
}

void TestRefService::passwordRules()
{
    ServiceClient c(m_service.baseUrl());
    QCOMPARE(c.login(QStringLiteral("bruno"), QStringLiteral("Lavagna2026")).status, QStringLiteral("1"));
    auto change = [&c](const QString &oldPwd, const QString &newPwd, const QString &confirm = QString()) {
        return c.action(QStringLiteral("changePWD"), {{QStringLiteral("newpwd"), newPwd},
                                                      {QStringLiteral("confirmpwd"), confirm.isNull() ? newPwd : confirm},
                                                      {QStringLiteral("oldpwd"), oldPwd}});
    };
    const QList<QPair<QString, QString>> refused = {
        {QStringLiteral("Abc1"), QStringLiteral("da 8 a 20")},
        {QStringLiteral("Abcdefghij1234567890x"), QStringLiteral("da 8 a 20")},
        {QStringLiteral("abcdefghij"), QStringLiteral("un numero e una lettera")},
        {QStringLiteral("1234567890"), QStringLiteral("un numero e una lettera")},
        {QStringLiteral("xxBRUNO2026"), QStringLiteral("user-id")},
        {QStringLiteral("Paaassword1"), QStringLiteral("due caratteri uguali")},
        {QStringLiteral("Lavagna2026"), QStringLiteral("ultime 3")},
    };
    for (const auto &k : refused) {
        const RestReply r = change(QStringLiteral("Lavagna2026"), k.first);
        QCOMPARE(r.http, 500);
        QCOMPARE(r.status, QStringLiteral("37"));
        QVERIFY2(r.description.contains(k.second), qPrintable(k.first + QLatin1String(": ") + r.description));
    }
    QVERIFY(change(QStringLiteral("Sbagliata1"), QStringLiteral("Gessetto2026")).description.contains(QStringLiteral("vecchia")));
    QVERIFY(change(QStringLiteral("Lavagna2026"), QStringLiteral("Gessetto2026"), QStringLiteral("Gessetto2027"))
                .description.contains(QStringLiteral("non corrispondono")));

    // Markup and ampersands in a password travel escaped and are kept as typed.
    RestReply r = change(QStringLiteral("Lavagna2026"), QStringLiteral("G&<ssetto26"));
    QCOMPARE(r.http, 200);
    QCOMPARE(r.status, QStringLiteral("38"));
    ServiceClient again(m_service.baseUrl());
    QCOMPARE(again.login(QStringLiteral("bruno"), QStringLiteral("Lavagna2026")).status, QStringLiteral("0"));
    QCOMPARE(again.login(QStringLiteral("bruno"), QStringLiteral("G&<ssetto26")).status, QStringLiteral("1"));
    // Cycle through: the last three may not come back, the fourth may.
    QCOMPARE(change(QStringLiteral("G&<ssetto26"), QStringLiteral("Cattedra2026")).status, QStringLiteral("38"));
    QCOMPARE(change(QStringLiteral("Cattedra2026"), QStringLiteral("Lavagna2026")).status, QStringLiteral("37"));
    QCOMPARE(change(QStringLiteral("Cattedra2026"), QStringLiteral("Banco2026x")).status, QStringLiteral("38"));
    QCOMPARE(change(QStringLiteral("Banco2026x"), QStringLiteral("Lavagna2026")).status, QStringLiteral("38"));
}

TAVREL_TEST_MAIN(TestRefService)
#include "tst_refservice.moc"
