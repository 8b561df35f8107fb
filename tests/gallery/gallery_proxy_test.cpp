// keepframe-gallery on the open internet: plain http only on this machine,
// and behind the README's nginx site (TLS on loopback with a certificate made
// for the test), where uploads stream through and cookies are Secure.
#include "gallery_support.h"

#include "platform.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <fstream>
#include <thread>
#include <regex>
#include <sstream>

using namespace keepframe::testing;

namespace {

// A port nothing listens on at the moment.
int freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program to its end; its exit code and what it printed.
int runProgram(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output) *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}  // namespace

TEST(GalleryCommandLine, PlainHttpIsServedOnlyOnThisMachine) {
    TempDir dir;
    QString out;
    const QString data = QString::fromStdString(dir.str() + "/data");
    EXPECT_EQ(runProgram(KEEPFRAME_GALLERY_PROGRAM, {"serve", "--host", "0.0.0.0", "--data", data}, &out), 2);
    EXPECT_TRUE(out.contains("refusing to serve plain http on 0.0.0.0")) << out.toStdString();
    EXPECT_EQ(runProgram(KEEPFRAME_GALLERY_PROGRAM, {"serve", "--host", "0.0.0.0", "--behind-proxy", "--data", data},
                         &out),
              2);
    EXPECT_TRUE(out.contains("--behind-proxy needs --public-url")) << out.toStdString();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data"));  // refused before anything was made
}

// The first start of a new service (what scripts/gallery.sh runs) adds the
// photographer and prints their token and the address once; a later start
// adds nobody and the token keeps working.
TEST(GalleryCommandLine, TheFirstStartPrintsTheStudiosTokenOnce) {
    TempDir dir;
    const QStringList args{"serve", "--port", "0", "--models", "none", "--data",
                           QString::fromStdString(dir.str() + "/data"), "--first-photographer", "studio"};
    // Starts the service and returns what it printed up to its address (empty when it did not come up).
    auto startService = [&](QProcess& p) {
        p.start(KEEPFRAME_GALLERY_PROGRAM, args);
        QString printed;
        while (!printed.contains("listening on ") || !printed.endsWith('\n')) {
            if (!p.waitForReadyRead(10000)) return QString();
            printed += QString::fromUtf8(p.readAllStandardOutput());
        }
        return printed;
    };
    QProcess first;
    const QString printed = startService(first);
    const std::regex shown(R"(first photographer "studio" added\.\n  Service address: (http://127\.0\.0\.1:\d+)\n)"
                           R"(  Access token \(shown only now\): (kfg_[0-9a-f]{64})\n)");
    std::smatch m;
    const std::string text = printed.toStdString();
    ASSERT_TRUE(std::regex_search(text, m, shown)) << text;
    const std::string origin = m[1], token = m[2];
    EXPECT_NE(text.find("listening on " + origin + "\n"), std::string::npos) << text;
    auto galleries = [&](const std::string& at) {
        httplib::Client c(at);
        c.set_read_timeout(10);
        const auto r = c.Get("/deliver/galleries", {{"Authorization", "Bearer " + token}});
        return r ? r->status : 0;
    };
    EXPECT_EQ(galleries(origin), 200);
    first.kill();
    first.waitForFinished(5000);

    QProcess second;
    const QString again = startService(second);
    EXPECT_FALSE(again.contains("first photographer")) << again.toStdString();
    EXPECT_FALSE(again.contains("kfg_")) << again.toStdString();
    const std::string listening = again.toStdString();
    const size_t at = listening.find("listening on ");
    ASSERT_NE(at, std::string::npos);
    const std::string secondOrigin = listening.substr(at + 13, listening.find('\n', at) - at - 13);
    EXPECT_EQ(galleries(secondOrigin), 200);
    second.kill();
    second.waitForFinished(5000);
    QString list;
    ASSERT_EQ(runProgram(KEEPFRAME_GALLERY_PROGRAM,
                         {"admin", "--data", QString::fromStdString(dir.str() + "/data"), "list"}, &list),
              0);
    EXPECT_EQ(list.count("studio\t"), 1) << list.toStdString();
}

TEST(GalleryProxy, TheReadmeNginxSiteServesTheServiceOverTls) {
    if (!std::filesystem::exists("/usr/sbin/nginx")) GTEST_SKIP() << "nginx is not installed (scripts/setup.sh)";
    keepframe::gallery::preparePlatform();
    TempDir dir;
    const std::string d = dir.str();
    // A certificate for 127.0.0.1, made now.
    ASSERT_EQ(runProgram("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                     "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-keyout",
                                     QString::fromStdString(d + "/key.pem"), "-out",
                                     QString::fromStdString(d + "/cert.pem")}),
              0);
    const int tls = freePort(), plain = freePort(), backend = freePort();
    const std::string publicUrl = "https://127.0.0.1:" + std::to_string(tls);

    // The site file as the README gives it, with this test's addresses, ports and certificate.
    std::string site = readText(KEEPFRAME_NGINX_SITE);
    auto replace = [&](const std::string& pattern, const std::string& with) {
        site = std::regex_replace(site, std::regex(pattern), with);
    };
    replace(R"(\n\s*listen \[::\]:\d+[^\n]*)", "");
    replace(R"(listen 80;)", "listen 127.0.0.1:" + std::to_string(plain) + ";");
    replace(R"(listen 443 ssl http2;)", "listen 127.0.0.1:" + std::to_string(tls) + " ssl http2;");
    replace(R"(/etc/letsencrypt/live/gallery\.example\.com/fullchain\.pem)", d + "/cert.pem");
    replace(R"(/etc/letsencrypt/live/gallery\.example\.com/privkey\.pem)", d + "/key.pem");
    replace(R"(127\.0\.0\.1:8790)", "127.0.0.1:" + std::to_string(backend));
    replace(R"(gallery\.example\.com)", "127.0.0.1");
    ASSERT_NE(site.find(d + "/cert.pem"), std::string::npos);
    std::filesystem::create_directories(dir.path() / "temp");
    std::filesystem::permissions(dir.path() / "temp", std::filesystem::perms::all);
    std::ofstream(d + "/site.conf") << site;
    std::ofstream(d + "/nginx.conf") << "daemon off;\nworker_processes 1;\npid " << d << "/nginx.pid;\nerror_log " << d
                                     << "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
                                     << "  client_body_temp_path " << d << "/temp/body;\n  proxy_temp_path " << d
                                     << "/temp/proxy;\n  include " << d << "/site.conf;\n}\n";
#ifndef _WIN32
    // Started by root, nginx's workers run as nobody.
    if (geteuid() == 0) std::ofstream(d + "/nginx.conf", std::ios::app) << "user nobody nogroup;\n";
#endif
    QString out;
    ASSERT_EQ(runProgram("/usr/sbin/nginx", {"-t", "-c", QString::fromStdString(d + "/nginx.conf")}, &out), 0)
        << out.toStdString();

    keepframe::GalleryService service;
    service.setServeOptions({"--port", QString::number(backend), "--behind-proxy", "--public-url",
                             QString::fromStdString(publicUrl)});
    ASSERT_TRUE(service.start(QString::fromStdString(d + "/service"))) << service.error().toStdString();
    QProcess nginx;
    // However the test ends, the master is asked to stop, and stops its workers.
    struct Stop {
        QProcess& process;
        ~Stop() {
            process.terminate();
            if (!process.waitForFinished(5000)) process.kill();
            process.waitForFinished(3000);
        }
    } stop{nginx};
    nginx.start("/usr/sbin/nginx", {"-c", QString::fromStdString(d + "/nginx.conf")});
    ASSERT_TRUE(nginx.waitForStarted(5000));
    httplib::SSLClient tlsClient("127.0.0.1", tls);
    tlsClient.enable_server_certificate_verification(false);
    tlsClient.set_connection_timeout(5);
    bool up = false;
    for (int i = 0; i < 50 && !up; ++i) {
        up = bool(tlsClient.Get("/healthz"));
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(up) << readText(d + "/error.log");
    const std::string token = service.token().toStdString();
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    const std::string jpeg = jpegBytes(800, 600);
    const json request = {{"gallery_title", "Proxy"},
                          {"gallery_password", "pw"},
                          {"files", {{{"filename", "a.jpg"}, {"original_size_bytes", int64_t(jpeg.size())}}}}};
    const auto made = tlsClient.Post("/deliver/upload-request", auth, request.dump(), "application/json");
    ASSERT_TRUE(made);
    ASSERT_EQ(made->status, 200) << made->body;
    const json answer = json::parse(made->body);
    // Upload addresses carry the public https origin and work through the proxy.
    const std::string url = answer["uploads"][0]["original_upload_url"];
    ASSERT_EQ(url.rfind(publicUrl + "/storage/upload/", 0), 0u) << url;
    const auto stored = tlsClient.Put(url.substr(publicUrl.size()).c_str(), jpeg, "image/jpeg");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200) << stored->body;
    const json files = {
        {"gallery_id", answer["gallery_id"]},
        {"files", {{{"filename", "a.jpg"}, {"original_r2_key", answer["uploads"][0]["original_r2_key"]}}}}};
    EXPECT_EQ(tlsClient.Post("/deliver/upload-complete", auth, files.dump(), "application/json")->status, 200);
    // Behind TLS the session cookie is Secure.
    const auto login = tlsClient.Post(("/gallery.html?g=" + answer["gallery_slug"].get<std::string>()).c_str(),
                                      httplib::Params{{"password", "pw"}});
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 303);
    EXPECT_NE(login->get_header_value("Set-Cookie").find("; HttpOnly; SameSite=Strict; Secure"), std::string::npos);
    // Plain http is sent to https.
    httplib::Client plainClient("127.0.0.1", plain);
    const auto moved = plainClient.Get("/deliver/galleries");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->status, 301);
}
