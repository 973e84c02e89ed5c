// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The reference service through real HTTP: refusals without a session, hostile
// requests, uploads, validation and the synchronisation cursor, quota, the
// new versions of a document (rectification, the same content preserved
// again), the exhibition page, other users' files, racing conserves, the
// password rules and the sessions a password change ends. (Preservation,
// rectification, history, restore and exhibition end to end: the window tests
// and tst_wholeroad.)

#include "support/refservicefixture.h"
#include "support/testenv.h"
#include "tst_refservice_client.h"

#include <QtTest>

#include <cmath>

namespace {

const QString Seed = QStringLiteral(TAVREL_FIXTURES_DIR "/refservice_seed.json");

RestFields goodValues(const QString &number = QStringLiteral("F-1"))
{
    return {{"101", number}, {"102", "1.234,56"}, {"103", "29/02/2024"}, {"104", QString()}};
}

QString annaUsed(const RestReply &r, const QString &profile = QStringLiteral("P-ANNA"))
{
    return r.where("bucket", "id", profile).value(0).attribute("used");
}

QString stampOf(const RestReply &conserved)
{
    return conserved.body.firstChildElement("tsupdate").text();
}

// The exhibition page of the version with `token`, as a browser gets it; empty
// unless the service gives a code ("40") that is not easily guessed.
QString exhibitionPage(ServiceClient &c, const QString &baseUrl, const QString &token)
{
    const RestReply r = c.action("getexhibitorconfig", {{"token", token}});
    const QString code = r.body.firstChildElement("exhibitor").firstChildElement("unique_code").attribute("value");
    if (r.outcome() != "200/40" || code.size() < 16)
        return QString();
    ServiceClient browser(baseUrl); // no session cookie, like a web browser
    const RestReply page = browser.get("/kvshop/Exhibitor?unique_code=" + code);
    return page.http == 200 ? QString::fromUtf8(page.raw) : QString();
}

} // namespace

class TestRefService : public QObject
{
    Q_OBJECT
    RefServiceFixture m_service{Seed};

private slots:
    void initTestCase()
    {
        QVERIFY2(m_service.start(), qPrintable(m_service.errorString()));
    }

    void sessionRulesAndMalformedRequests()
    {
        ServiceClient c(m_service.baseUrl());
        QCOMPARE(c.login("anna", "sbagliata1").outcome(), "500/0");
        // No session yet: every action but login answers "19".
        for (const char *action : {"syncfolder", "history", "changePWD", "ripristina", "getexhibitorconfig"})
            QCOMPARE(c.action(action).outcome(), "500/19");
        QCOMPARE(c.upload(11, "abc", "/tmp/a.txt").status, "19");
        const RestReply r = c.login("anna", "Quaderno2026");
        QCOMPARE(r.outcome(), "200/1");
        QVERIFY(r.header("set-cookie").contains("Path=/") && r.header("set-cookie").contains("HttpOnly"));
        QCOMPARE(c.action("cancellatutto").outcome(), "500/2");

        // Malformed and hostile requests are refused and change nothing.
        const QByteArray before = c.sync("0.0").raw;

        const QByteArray x = "<?xml version=\"1.0\"?>";
        const QList<QPair<const char *, QByteArray>> cases = {
            {"truncated", x + "<request><action>syncfolder</action><codes"},
            {"wrong root", x + "<richiesta><action>syncfolder</action></richiesta>"},
            {"no action", x + "<request><codesync>0</codesync></request>"},
            {"entity bomb", x + "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                                "<request><action>changePWD</action><newpwd>&b;</newpwd></request>"},
            {"external entity", x + "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                                    "<request><action>syncfolder</action><codesync>&x;</codesync></request>"},
            {"huge field", x + "<request><action>history</action><hash>" + QByteArray(100000, 'a') + "</hash></request>"},
            {"nested markup", x + "<request><action>history</action><hash><b>x</b></hash></request>"},
            {"oversized", x + "<request><action>syncfolder</action><codesync>" + QByteArray(5 * 1024 * 1024, '1')
                              + "</codesync></request>"},
        };
        for (const auto &[name, body] : cases) {
            const RestReply r = c.post(body);
            QVERIFY2(r.http == 500 && !r.status.isEmpty() && r.status != "5" && !r.description.isEmpty(), name);
        }
        const RestReply tooMany = c.post(x + "<request><action>savevaluemetadati</action>"
                                         + QByteArray("<metadato key=\"1\" value=\"v\"/>").repeated(1001) + "</request>");
        QCOMPARE(tooMany.http, 500);
        QVERIFY2(tooMany.description.contains("1000"), qPrintable(tooMany.description));
        // An action's own missing fields: that action's failure code.
        const QList<QPair<const char *, const char *>> ownCodes = {
            {"history", "30"}, {"ripristina", "18"}, {"savevaluemetadati", "16"}, {"uploadfile", "13"}};
        for (const auto &[action, code] : ownCodes)
            QCOMPARE(c.action(action).status, code);
        QCOMPARE(c.sync("0.0").raw, before);
    }

    void uploadConserveAndCursor()
    {
        ServiceClient c(m_service.baseUrl());
        RestReply r = c.login("anna", "Quaderno2026");
        const qint64 usedBefore = annaUsed(r).toLongLong();
        const QByteArray content = "fattura numero uno\n";
        const QString hash = sha1Hex(content), path = "/home/anna/fattura.txt";

        // The declared fingerprint must be the one of the bytes received; then
        // nothing was uploaded, so nothing can be conserved. No upload into a
        // class of another account (bruno's 21) or an unknown one.
        r = c.upload(11, content, path, QString(), sha1Hex("altro contenuto"));
        QCOMPARE(r.outcome(), "500/13");
        QCOMPARE(c.conserve(hash, 11, goodValues()).status, "16");
        QCOMPARE(c.upload(21, content, path).status, "13");
        QCOMPARE(c.upload(999, content, path).status, "13");

        QCOMPARE(c.upload(11, content, path).outcome(), "200/14");
        // Each value refused says why, by its key. (A number and an impossible
        // date refused through the preservation dialog: tst_conserva.)
        r = c.conserve(hash, 11, {{"101", "   "}, {"102", "dodici"}, {"103", "1/2/2024"}, {"999", "x"}});
        QCOMPARE(r.outcome(), "500/20");
        QMap<QString, QString> messages;
        for (const QDomElement &f : r.all("field"))
            messages.insert(f.attribute("key"), f.attribute("message"));
        QCOMPARE(messages.keys(), (QStringList{"101", "102", "103", "999"}));
        QVERIFY(messages.value("101").contains("obbligatorio"));
        QVERIFY(messages.value("103").contains("gg/mm/aaaa"));

        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        r = c.conserve(hash, 11, goodValues("A&B <1>"));
        QCOMPARE(r.outcome(), "200/15");
        // The update stamp is the time of the preservation in milliseconds.
        const qint64 stamp = stampOf(r).toLongLong();
        QVERIFY2(stamp >= before && stamp <= QDateTime::currentMSecsSinceEpoch(), qPrintable(QString::number(stamp)));
        const QString token = r.token();
        // The client reads the stamp as dd/MM/yyyy hh:mm:ss.
        QVERIFY(QRegularExpression("^\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}$")
                    .match(r.body.firstChildElement("tsconserve").text())
                    .hasMatch());

        // What the upload and the conserve request said comes back whole, escaped.
        r = c.sync("0.0");
        const QDomElement file = r.where("file", "hash", hash).value(0);
        QStringList attributes;
        for (const char *name : {"token", "filename", "idfolder", "idbuckets", "username", "hash4k", "last_modified",
                                 "computer_name"})
            attributes << file.attribute(name);
        QCOMPARE(attributes, (QStringList{token, path, "11", "P-ANNA", "anna", sha1Hex(content.left(4096)),
                                          "06/12/2026 10:11:12", "postazione-test"}));
        QCOMPARE(annaUsed(r).toLongLong(), usedBefore + content.size());
        QStringList values;
        for (const QDomElement &v : r.where("metadatoValue", "hash", hash))
            values << v.attribute("key") + '=' + v.attribute("value");
        QVERIFY2(values.contains("101=A&B <1>"), qPrintable(values.join(',')));

        QCOMPARE(file.attribute("tsupdate").toLongLong(), stamp);
        r = c.sync(QString::number(stamp));
        QCOMPARE(r.all("file").size() + r.all("metadatoValue").size(), 0);
        QCOMPARE(r.all("folder").size(), 3); // classes always in full

        const QByteArray second = "seconda fattura\n";
        QCOMPARE(c.upload(11, second, "/home/anna/fattura2.txt").status, "14");
        r = c.conserve(sha1Hex(second), 11, goodValues("F-2"));
        QCOMPARE(r.status, "15");
        QVERIFY(stampOf(r).toLongLong() > stamp);

        // The client keeps the cursor as a real number and sends it back in
        // whatever text form its toolkit prints: each one is read as a number.
        const double real = double(stamp);
        const double round = std::floor(real / 1e9) * 1e9; // below both stamps
        const QList<QPair<QString, QStringList>> cursors = {
            {QString::number(stamp), {sha1Hex(second)}},
            {QString::number(real, 'f', 1), {sha1Hex(second)}},
            {QString::number(real, 'e', 12), {sha1Hex(second)}},
            {QString::number(round), {hash, sha1Hex(second)}}, // shortest form: "1.796e+12"
            {QString::number(round, 'f', 1), {hash, sha1Hex(second)}},
        };
        for (const auto &[cursor, expected] : cursors) {
            QStringList hashes;
            for (const QDomElement &f : c.sync(cursor).all("file"))
                hashes << f.attribute("hash");
            QCOMPARE(hashes, expected);
        }
    }

    void quotaIsEnforced()
    {
        ServiceClient c(m_service.baseUrl());
        RestReply r = c.login("anna", "Quaderno2026");
        qint64 free = r.where("bucket", "id", "P-ANNA").value(0).attribute("quota").toLongLong()
                      - annaUsed(r).toLongLong();
        QVERIFY(free > 10);
        r = c.upload(11, QByteArray(int(free) + 1, 'x'), "/home/anna/grande.bin");
        QCOMPARE(r.outcome(), "500/13");
        QVERIFY(r.description.contains("Spazio insufficiente") && r.description.contains("Archivio di Anna"));
        QVERIFY(QDir(m_service.dataDir() + "/tmp").isEmpty());
        // Uploads not yet preserved hold their space: a second one that only
        // fits without the first is refused, the first sent again is not
        // counted twice.
        const QByteArray first(int(free / 2 + 1), 'a'), second(int(free / 2 + 1), 'b');
        QCOMPARE(c.upload(11, first, "/home/anna/primo.bin").status, "14");
        r = c.upload(11, second, "/home/anna/secondo.bin");
        QCOMPARE(r.outcome(), "500/13");
        QVERIFY2(r.description.contains("Spazio insufficiente"), qPrintable(r.description));
        QVERIFY(QDir(m_service.dataDir() + "/tmp").isEmpty());
        QCOMPARE(c.upload(11, first, "/home/anna/primo.bin").status, "14");
        QCOMPARE(c.conserve(sha1Hex(second), 11, goodValues()).status, "16");
        QCOMPARE(c.conserve(sha1Hex(first), 11, goodValues()).status, "15");
        free -= first.size();
        // Exactly the free space fits.
        const QByteArray fits(int(free), 'y');
        QCOMPARE(c.upload(11, fits, "/home/anna/giusto.bin").status, "14");
        QCOMPARE(c.conserve(sha1Hex(fits), 11, goodValues()).status, "15");
        // A profile without quota takes anything.
        QCOMPARE(c.upload(13, QByteArray(50000, 'z'), "/home/anna/libero.bin").status, "14");
    }

    void newVersionsOfADocument()
    {
        ServiceClient c(m_service.baseUrl());
        c.login("anna", "Quaderno2026");
        const QByteArray v1 = "contratto, prima stesura\n", v2 = "contratto, stesura corretta\n";
        const QString h1 = sha1Hex(v1), h2 = sha1Hex(v2);
        QCOMPARE(c.upload(13, v1, "/home/anna/contratto.txt").status, "14");
        QCOMPARE(c.conserve(h1, 13, {{"105", "prima"}}).status, "15");

        // Rectifying something that is not preserved is refused.
        QCOMPARE(c.upload(13, v2, "/home/anna/contratto.txt", sha1Hex("mai conservato")).status, "26");
        QCOMPARE(c.upload(13, v2, "/home/anna/contratto-v2.txt", h1).status, "14");
        QCOMPARE(c.conserve(h2, 13, {{"105", "seconda"}}, h1).outcome(), "200/25");
        // Only the current version is synchronised; a replaced one cannot be replaced again.
        QCOMPARE(c.sync("0.0").where("file", "hash", h1).size(), 0);
        QCOMPARE(c.upload(13, "terza\n", "/home/anna/c3.txt", h1).status, "26");

        // The same content preserved again in its class supersedes the current
        // version, with the ordinary codes: the upload's form starts from the
        // current values, the new version has its own token and stamps.
        const QByteArray content = "verbale conservato due volte\n";
        const QString hash = sha1Hex(content);
        QCOMPARE(c.upload(13, content, "/home/anna/verbale.txt").status, "14");
        const RestReply first = c.conserve(hash, 13, {{"105", "prima volta"}});
        QCOMPARE(first.status, "15");
        const qint64 used = annaUsed(c.sync("0.0"), "P-ANNA-LIBERO").toLongLong();
        RestReply r = c.upload(13, content, "/home/anna/archivio/verbale.txt");
        QCOMPARE(r.outcome(), "200/14");
        QCOMPARE(r.where("metadato", "idmetadato", "105").value(0).text(), "prima volta");
        const RestReply again = c.conserve(hash, 13, {{"105", "seconda volta"}});
        QCOMPARE(again.outcome(), "200/15");
        QVERIFY(!again.token().isEmpty() && again.token() != first.token());
        QVERIFY(stampOf(again).toLongLong() > stampOf(first).toLongLong());

        // The next synchronisation brings the new version alone, counted in
        // the profile's used space as any other.
        r = c.sync(stampOf(first));
        QCOMPARE(r.all("file").size(), 1);
        const QDomElement current = r.where("file", "hash", hash).value(0);
        QCOMPARE(current.attribute("token"), again.token());
        QCOMPARE(current.attribute("filename"), "/home/anna/archivio/verbale.txt");
        QCOMPARE(r.where("metadatoValue", "hash", hash).value(0).attribute("value"), "seconda volta");
        QCOMPARE(annaUsed(r, "P-ANNA-LIBERO").toLongLong(), used + content.size());

        // Both stay: the history lists them newest first, the content comes
        // back, and each token shows its own preservation.
        QStringList tokens;
        for (const QDomElement &f : c.onVersion("history", hash, 13).where("file", "hash", hash))
            tokens << f.attribute("token");
        QCOMPARE(tokens, (QStringList{again.token(), first.token()}));
        QCOMPARE(c.onVersion("ripristina", hash, 13).raw, content);
        const QList<QPair<QString, QString>> shown = {{first.token(), "prima volta"}, {again.token(), "seconda volta"}};
        for (const auto &[token, value] : shown) {
            const QString page = exhibitionPage(c, m_service.baseUrl(), token);
            QVERIFY2(page.contains(token) && page.contains(value), qPrintable(token));
        }
    }

    void exhibitionCodeIsOneTime()
    {
        // The exhibition page escapes the file name and the index values it shows.
        ServiceClient c(m_service.baseUrl());
        c.login("anna", "Quaderno2026");
        const QByteArray content = "verbale <riservato>\n";
        QCOMPARE(c.upload(13, content, "/home/anna/../<script>alert(1)</script> & verbale.txt").status, "14");
        RestReply r = c.conserve(sha1Hex(content), 13, {{"105", "<b>grassetto</b>"}});
        QCOMPARE(r.status, "15");
        const QString token = r.token();

        const QString page = exhibitionPage(c, m_service.baseUrl(), token);
        for (const QString &shown : {token, QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; &amp; verbale.txt"),
                                     QStringLiteral("&lt;b&gt;grassetto&lt;/b&gt;")})
            QVERIFY2(page.contains(shown), qPrintable(shown));
        QVERIFY(!page.contains("<script>"));
        const QRegularExpressionMatch link =
            QRegularExpression("href=\"(/kvshop/Exhibitor/download\\?key=[0-9a-f]+)\"").match(page);
        QVERIFY(link.hasMatch());
        ServiceClient browser(m_service.baseUrl());
        r = browser.get(link.captured(1));
        QCOMPARE(r.http, 200);
        QCOMPARE(r.raw, content);

        // No code, no page (a code is good once: tst_exhibit).
        QCOMPARE(browser.get("/kvshop/Exhibitor?unique_code=").http, 404);
        QCOMPARE(c.action("getexhibitorconfig", {{"token", "inesistente"}}).outcome(), "500/41");
    }

    void otherUsersFilesAreInvisible()
    {
        ServiceClient anna(m_service.baseUrl()), bruno(m_service.baseUrl());
        anna.login("anna", "Quaderno2026");
        const QByteArray content = "solo di anna\n";
        const QString hash = sha1Hex(content);
        QCOMPARE(anna.upload(13, content, "/home/anna/privato.txt").status, "14");
        RestReply r = anna.conserve(hash, 13, {});
        QCOMPARE(r.status, "15");
        const QString token = r.token();

        r = bruno.login("bruno", "Lavagna2026");
        QCOMPARE(r.status, "1");
        QCOMPARE(r.all("file").size(), 0);
        QCOMPARE(bruno.onVersion("ripristina", hash, 13).status, "18");
        QCOMPARE(bruno.onVersion("history", hash, 13).status, "30");
        QCOMPARE(bruno.action("getexhibitorconfig", {{"token", token}}).status, "41");
        // Bruno cannot conserve into Anna's class, even with her upload pending there.
        QCOMPARE(anna.upload(13, "in sospeso\n", "/x").status, "14");
        QCOMPARE(bruno.conserve(sha1Hex("in sospeso\n"), 13, {}).status, "16");
        QCOMPARE(anna.conserve(sha1Hex("in sospeso\n"), 13, {}).status, "15");
    }

    void racingConservesOfOneUpload()
    {
        // Two sessions of the same user conserve the same upload at the same time:
        // exactly one preservation may come out of it, also when it supersedes
        // a preserved one (odd rounds), which then leaves one current version.
        ServiceClient a(m_service.baseUrl()), b(m_service.baseUrl());
        a.login("anna", "Quaderno2026");
        b.login("anna", "Quaderno2026");
        for (int round = 0; round < 10; ++round) {
            const QByteArray content = "gara " + QByteArray::number(round) + '\n';
            const QString hash = sha1Hex(content);
            if (round % 2) {
                QCOMPARE(a.upload(13, content, "/home/anna/gara.txt").status, "14");
                QCOMPARE(a.conserve(hash, 13, {}).status, "15");
            }
            QCOMPARE(a.upload(13, content, "/home/anna/gara.txt").status, "14");
            const QByteArray xml = ServiceClient::requestXml(
                "savevaluemetadati", {{"hash", hash}, {"folderid", "13"}, {"computername", "pc"}});
            QNetworkReply *first = a.postAsync(xml);
            QNetworkReply *second = b.postAsync(xml);
            QStringList statuses = {a.finish(first).status, b.finish(second).status};
            statuses.sort();
            QCOMPARE(statuses, (QStringList{"15", "16"}));
            QCOMPARE(a.sync("0.0").where("file", "hash", hash).size(), 1);
            QCOMPARE(a.onVersion("history", hash, 13).all("file").size(), 1 + round % 2);
        }
    }

    void passwordRules()
    {
        ServiceClient c(m_service.baseUrl());
        QCOMPARE(c.login("bruno", "Lavagna2026").status, "1");
        const auto change = [&c](const QString &oldPwd, const QString &newPwd, const QString &confirm = QString()) {
            return c.action("changePWD", {{"newpwd", newPwd}, {"confirmpwd", confirm.isNull() ? newPwd : confirm},
                                          {"oldpwd", oldPwd}});
        };
        const QList<QPair<const char *, const char *>> refused = {
            {"Abcdefghij1234567890x", "da 8 a 20"}, {"abcdefghij", "un numero e una lettera"},
            {"1234567890", "un numero e una lettera"}, {"xxBRUNO2026", "user-id"},
            {"Paaassword1", "due caratteri uguali"}, {"Lavagna2026", "ultime 3"}};
        for (const auto &[password, reason] : refused) {
            const RestReply r = change("Lavagna2026", password);
            QCOMPARE(r.outcome(), "500/37");
            QVERIFY2(r.description.contains(reason), qPrintable(QString::fromLatin1(password) + ": " + r.description));
        }
        QVERIFY(change("Sbagliata1", "Gessetto2026").description.contains("vecchia"));

        // A change ends the account's other sessions, not the one that made it.
        ServiceClient elsewhere(m_service.baseUrl());
        QCOMPARE(elsewhere.login("bruno", "Lavagna2026").status, "1");
        QCOMPARE(elsewhere.sync("0.0").status, "5");

        // Cycle through: the last three may not come back, the fourth may. (A
        // password with markup, changed and signed in with: tst_changepwd.)
        QCOMPARE(change("Lavagna2026", "Gessetto2026").outcome(), "200/38");
        QCOMPARE(elsewhere.sync("0.0").outcome(), "500/19");
        QCOMPARE(c.sync("0.0").status, "5");
        QCOMPARE(elsewhere.login("bruno", "Gessetto2026").status, "1");
        QCOMPARE(change("Gessetto2026", "Cattedra2026").status, "38");
        QCOMPARE(change("Cattedra2026", "Lavagna2026").status, "37");
        QCOMPARE(change("Cattedra2026", "Banco2026x").status, "38");
        QCOMPARE(change("Banco2026x", "Lavagna2026").status, "38");
    }
};

TAVREL_TEST_MAIN(TestRefService)
#include "tst_refservice.moc"
