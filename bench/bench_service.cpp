// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

// bench_service: the reference service under load.
//  1. 50 concurrent clients, each looping login + syncfolder for 20 s on
//     loopback; every reply must be a success.
//  2. A 1 GiB upload (streamed, then conserved): growth of the service's
//     peak resident memory during the upload.
//  3. kill -9 while 8 clients upload and conserve; after a restart every
//     acknowledged preservation must be listed and its blob must hash right.
//  4. An attack: 500 slow clients trickling request heads and 3 connections
//     flooding 20,000 headers of 4 KiB each, while one normal client loops
//     login + syncfolder: the longest it waited (it must be answered within a
//     second) and the service's peak memory.
// Last line: RESULT errors=N requests=N upload_growth_mib=X slow_clients=N normal_max_ms=Y flood_peak_mib=Z

#include "support/hostileclients.h"
#include "support/refservicefixture.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <openssl/evp.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "bench/procstatus.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string loginXml(const std::string &user, const std::string &password)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login</action><username>" + user
        + "</username><password>" + password + "</password><codesync>0.0</codesync><version>1.2.1</version>"
          "<platform>lin</platform></request>";
}

std::string statusOf(const std::string &body)
{
    const auto a = body.find("<statusnumber>");
    const auto b = body.find("</statusnumber>");
    if (a == std::string::npos || b == std::string::npos || b < a)
        return {};
    return body.substr(a + 14, b - a - 14);
}

std::string cookieOf(const httplib::Result &r)
{
    const std::string c = r->get_header_value("Set-Cookie");
    return c.substr(0, c.find(';'));
}

// Logs in; returns the session cookie or an empty string (and why in `error`).
std::string login(httplib::Client &cli, const char *user = "demo", const char *password = "Tavrel2026",
                  std::string *error = nullptr)
{
    auto r = cli.Post("/kvshop/RestService", loginXml(user, password), "text/xml;charset=UTF-8");
    if (!r || r->status != 200 || statusOf(r->body) != "1") {
        if (error)
            *error = r ? "login status " + std::to_string(r->status) + " " + statusOf(r->body)
                       : "login transport error " + httplib::to_string(r.error());
        return {};
    }
    return cookieOf(r);
}

httplib::Result postXml(httplib::Client &cli, const std::string &cookie, const std::string &xml)
{
    return cli.Post("/kvshop/RestService", {{"Cookie", cookie}}, xml, "text/xml;charset=UTF-8");
}

// Deterministic content generator: block i of the file is a fixed random
// block with i written into its first bytes, so no two blocks are equal.
struct Content {
    static constexpr size_t Block = 1 << 20;
    std::string base = std::string(Block, '\0');
    Content()
    {
        std::mt19937_64 rng(42);
        for (size_t i = 0; i < Block; i += 8) {
            const uint64_t v = rng();
            std::memcpy(&base[i], &v, 8);
        }
    }
    const std::string &block(uint64_t i)
    {
        std::memcpy(&base[0], &i, 8);
        return base;
    }
};

std::string multipartPart(const std::string &boundary, const std::string &disposition, const std::string &type)
{
    return "--" + boundary + "\r\nContent-Type: " + type + "\r\nContent-Disposition: form-data; name=\"" + disposition
        + "\"\r\n\r\n";
}

std::string hexSha1(const std::string &data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha1).toHex().toStdString();
}

// Uploads `data` to class `folder` and conserves it; returns the token or "".
std::string preserve(httplib::Client &cli, const std::string &cookie, int folder, const std::string &name,
                     const std::string &data, const std::string &values)
{
    const std::string hash = hexSha1(data);
    const std::string boundary = "----bench" + hash.substr(0, 12);
    const std::string xml = "<?xml version=\"1.0\"?><request><action>uploadfile</action><idfolder>" + std::to_string(folder)
        + "</idfolder><last_modified>01/01/2026 00:00:00</last_modified><hashfile>" + hash + "</hashfile></request>";
    const std::string body = multipartPart(boundary, "xml", "text/xml;charset=UTF-8") + xml + "\r\n"
        + multipartPart(boundary, name, "application/octet-stream") + data + "\r\n--" + boundary + "--\r\n";
    auto r = cli.Post("/kvshop/RestService", {{"Cookie", cookie}}, body, ("multipart/form-data;boundary=" + boundary).c_str());
    if (!r || r->status != 200)
        return {};
    r = postXml(cli, cookie, "<?xml version=\"1.0\"?><request><action>savevaluemetadati</action><hash>" + hash
                                 + "</hash><folderid>" + std::to_string(folder) + "</folderid><computername>bench"
                                   "</computername>" + values + "</request>");
    if (!r || r->status != 200)
        return {};
    const auto a = r->body.find("<token>");
    const auto b = r->body.find("</token>");
    return (a == std::string::npos || b == std::string::npos) ? std::string() : r->body.substr(a + 7, b - a - 7);
}

struct AttackFigures {
    long long requests = 0, failed = 0;
    double maxMs = 0, peakMib = 0, rssBeforeMib = 0;
    int cut = 0, refused = 0, largest = 0;
};

// Attacks the running service while one normal client loops login +
// syncfolder for `seconds`, each request given at most 5 s.
AttackFigures attack(RefServiceFixture &service, int slowClients, int seconds, int floodHeaders)
{
    AttackFigures f;
    const qint64 pid = service.processId();
    resetPeakMemory(pid);
    f.rssBeforeMib = procStatusKb("VmRSS:", pid) / 1024.0;
    const quint16 port = quint16(service.port());
    HeaderFlood flood(port, 3, floodHeaders);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the flood reaches the service first
    SlowClients slow(port, slowClients);
    std::this_thread::sleep_for(std::chrono::seconds(2)); // every slow client connected and trickling
    httplib::Client cli("127.0.0.1", port);
    cli.set_connection_timeout(5);
    cli.set_read_timeout(5);
    cli.set_write_timeout(5);
    const auto timed = [&f](const auto &request) {
        const auto t0 = Clock::now();
        const bool ok = request();
        f.maxMs = std::max(f.maxMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        ++f.requests;
        f.failed += ok ? 0 : 1;
        return ok;
    };
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        std::string cookie;
        if (!timed([&] { return !(cookie = login(cli)).empty(); }))
            continue;
        timed([&] {
            auto r = postXml(cli, cookie, "<?xml version=\"1.0\"?><request><action>syncfolder</action>"
                                          "<codesync>0.0</codesync></request>");
            return r && r->status == 200 && statusOf(r->body) == "5";
        });
    }
    flood.wait();
    f.peakMib = procStatusKb("VmHWM:", pid) / 1024.0;
    f.cut = slow.cut();
    f.refused = flood.refused();
    f.largest = flood.largestAccepted();
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int clients = 50;
    const int seconds = qEnvironmentVariableIntValue("BENCH_SERVICE_SECONDS") > 0
        ? qEnvironmentVariableIntValue("BENCH_SERVICE_SECONDS") : 20;
    const qint64 uploadBytes = qEnvironmentVariableIntValue("BENCH_SERVICE_UPLOAD_MIB") > 0
        ? qint64(qEnvironmentVariableIntValue("BENCH_SERVICE_UPLOAD_MIB")) << 20 : qint64(1) << 30;

    RefServiceFixture service; // demo seed
    if (!service.start()) {
        std::fprintf(stderr, "bench_service: %s\n", qPrintable(service.errorString()));
        return 1;
    }
    const int port = service.port();

    // 1. Concurrent login + syncfolder loops.
    std::atomic<long long> requests{0}, errors{0};
    std::mutex firstErrorMutex;
    std::string firstError;
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            httplib::Client cli("127.0.0.1", port);
            cli.set_keep_alive(true);
            cli.set_read_timeout(60);
            const char *user = (i % 5 == 4) ? "verdi" : "demo";
            const char *password = (i % 5 == 4) ? "Archivio2026" : "Tavrel2026";
            while (Clock::now() < until) {
                std::string why;
                const std::string cookie = login(cli, user, password, &why);
                ++requests;
                if (cookie.empty()) {
                    ++errors;
                    std::lock_guard<std::mutex> lock(firstErrorMutex);
                    if (firstError.empty())
                        firstError = why;
                    continue;
                }
                auto r = postXml(cli, cookie, "<?xml version=\"1.0\"?><request><action>syncfolder</action>"
                                              "<codesync>0.0</codesync></request>");
                ++requests;
                if (!r || r->status != 200 || statusOf(r->body) != "5") {
                    ++errors;
                    std::lock_guard<std::mutex> lock(firstErrorMutex);
                    if (firstError.empty())
                        firstError = r ? "sync status " + std::to_string(r->status) + " " + statusOf(r->body)
                                       : "sync transport error " + httplib::to_string(r.error());
                }
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    const bool alive = service.isRunning();
    std::printf("load: %d clients x %d s: %lld requests (%.1f/s), %lld errors%s%s, service %s\n", clients, seconds,
                requests.load(), double(requests.load()) / seconds, errors.load(), firstError.empty() ? "" : ", first: ",
                firstError.c_str(), alive ? "alive" : "DEAD");
    std::fflush(stdout);
    if (!alive)
        errors += 1;

    // 2. One large upload, streamed; the service's peak memory must not follow its size.
    service.restart();
    const qint64 pid = service.processId();
    double growthMib = -1;
    {
        httplib::Client cli("127.0.0.1", service.port());
        cli.set_read_timeout(600);
        cli.set_write_timeout(600);
        const std::string cookie = login(cli);
        Content content;
        const uint64_t blocks = uint64_t(uploadBytes) / Content::Block;
        // The fingerprint goes in the first part, so the content is hashed first.
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
        for (uint64_t i = 0; i < blocks; ++i)
            EVP_DigestUpdate(ctx, content.block(i).data(), Content::Block);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int dlen = 0;
        EVP_DigestFinal_ex(ctx, digest, &dlen);
        EVP_MD_CTX_free(ctx);
        const std::string hash = QByteArray(reinterpret_cast<char *>(digest), int(dlen)).toHex().toStdString();

        const std::string boundary = "----benchupload";
        const std::string head = multipartPart(boundary, "xml", "text/xml;charset=UTF-8")
            + "<?xml version=\"1.0\"?><request><action>uploadfile</action><idfolder>201</idfolder><last_modified>"
              "01/01/2026 00:00:00</last_modified><hashfile>" + hash + "</hashfile></request>\r\n"
            + multipartPart(boundary, "/home/demo/grande.bin", "application/octet-stream");
        const std::string tail = "\r\n--" + boundary + "--\r\n";
        const size_t total = head.size() + size_t(uploadBytes) + tail.size();

        resetPeakMemory(pid);
        const long long rssBefore = procStatusKb("VmRSS:", pid);
        const auto t0 = Clock::now();
        auto r = cli.Post(
            "/kvshop/RestService", {{"Cookie", cookie}}, total,
            [&](size_t offset, size_t length, httplib::DataSink &sink) {
                // Serve [offset, offset+length) of head + content + tail, at most one block at a time.
                if (offset < head.size())
                    return sink.write(head.data() + offset, head.size() - offset);
                const size_t contentEnd = head.size() + size_t(uploadBytes);
                if (offset < contentEnd) {
                    const size_t pos = offset - head.size();
                    const std::string &block = content.block(pos / Content::Block);
                    const size_t within = pos % Content::Block;
                    return sink.write(block.data() + within, std::min(length, Content::Block - within));
                }
                return sink.write(tail.data() + (offset - contentEnd), tail.size() - (offset - contentEnd));
            },
            ("multipart/form-data;boundary=" + boundary).c_str());
        const double uploadSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const long long peak = procStatusKb("VmHWM:", pid);
        const bool uploaded = r && r->status == 200 && statusOf(r->body) == "14";
        std::string token;
        if (uploaded) {
            auto c = postXml(cli, cookie, "<?xml version=\"1.0\"?><request><action>savevaluemetadati</action><hash>" + hash
                                              + "</hash><folderid>201</folderid><computername>bench</computername>"
                                                "</request>");
            if (c && c->status == 200 && statusOf(c->body) == "15")
                token = "ok";
        }
        growthMib = (peak - rssBefore) / 1024.0;
        std::printf("upload: %.0f MiB in %.1f s (%.0f MiB/s), %s, conserve %s; service RSS before %.1f MiB, peak %.1f MiB, "
                    "growth %.1f MiB\n",
                    double(uploadBytes) / (1 << 20), uploadSeconds, double(uploadBytes) / (1 << 20) / uploadSeconds,
                    uploaded ? "accepted" : (r ? ("refused: " + statusOf(r->body)).c_str() : "transport error"),
                    token.empty() ? "FAILED" : "ok", rssBefore / 1024.0, peak / 1024.0, growthMib);
        std::fflush(stdout);
        if (!uploaded || token.empty())
            errors += 1;
    }

    // 3. kill -9 in the middle of uploads and conserves.
    {
        std::atomic<bool> stopWriters{false};
        std::mutex ackedMutex;
        std::vector<std::pair<std::string, std::string>> acked; // token, sha1
        std::vector<std::thread> writers;
        for (int w = 0; w < 8; ++w) {
            writers.emplace_back([&, w] {
                httplib::Client cli("127.0.0.1", service.port());
                cli.set_read_timeout(10);
                const std::string cookie = login(cli);
                std::mt19937 rng{static_cast<unsigned>(w)};
                for (int n = 0; !stopWriters && !cookie.empty(); ++n) {
                    std::string data(65536 + rng() % 65536, 'a');
                    for (char &ch : data)
                        ch = char('a' + rng() % 26);
                    const std::string token = preserve(cli, cookie, 201, "/home/demo/k" + std::to_string(w) + "_"
                                                           + std::to_string(n) + ".txt",
                                                       data, "");
                    if (!token.empty()) {
                        std::lock_guard<std::mutex> lock(ackedMutex);
                        acked.emplace_back(token, hexSha1(data));
                    }
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        service.kill9();
        stopWriters = true;
        for (std::thread &t : writers)
            t.join();
        const bool restarted = service.restart();
        long long verified = 0, broken = 0;
        if (restarted) {
            httplib::Client cli("127.0.0.1", service.port());
            auto r = cli.Post("/kvshop/RestService", loginXml("demo", "Tavrel2026"), "text/xml;charset=UTF-8");
            const std::string listing = r ? r->body : std::string();
            for (const auto &[token, sha] : acked) {
                const bool listed = listing.find("token=\"" + token + "\"") != std::string::npos
                    && listing.find("hash=\"" + sha + "\"") != std::string::npos;
                QFile blob(service.dataDir() + QStringLiteral("/blobs/%1/%2").arg(QString::fromStdString(sha.substr(0, 2)),
                                                                                   QString::fromStdString(sha)));
                const bool intact = blob.open(QIODevice::ReadOnly)
                    && QCryptographicHash::hash(blob.readAll(), QCryptographicHash::Sha1).toHex().toStdString() == sha;
                (listed && intact) ? ++verified : ++broken;
            }
        }
        long long partial = 0;
        QDirIterator it(service.dataDir() + QStringLiteral("/blobs"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly)
                || QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex() != it.fileName().toLatin1())
                ++partial;
        }
        std::printf("crash: %zu preservations acknowledged before kill -9, %lld found intact after restart, %lld missing or "
                    "damaged, %lld blobs not matching their name%s\n",
                    acked.size(), verified, broken, partial, restarted ? "" : " (RESTART FAILED)");
        if (!restarted || broken || partial)
            errors += 1;
    }

    // 4. Slow clients and a header flood.
    const int slowClients = 500;
    const AttackFigures a = attack(service, slowClients, seconds, 20000);
    std::printf("attack: %d slow clients (%d cut by the service), header flood 3 x 20000 x 4 KiB (%d connections "
                "refused, largest head accepted %d lines); normal client: %lld requests, %lld failed, longest wait %.0f ms; service "
                "RSS before %.1f MiB, peak %.1f MiB, %s\n",
                slowClients, a.cut, a.refused, a.largest, a.requests, a.failed, a.maxMs, a.rssBeforeMib, a.peakMib,
                service.isRunning() ? "alive" : "DEAD");
    if (a.failed || a.maxMs > 1000 || !service.isRunning())
        errors += 1;

    service.stop();
    std::printf("RESULT errors=%lld requests=%lld upload_growth_mib=%.1f slow_clients=%d normal_max_ms=%.0f "
                "flood_peak_mib=%.1f\n",
                errors.load(), requests.load(), growthMib, slowClients, a.maxMs, a.peakMib);
    return errors.load() == 0 ? 0 : 1;
}
