// keepframe-gallery: the studio's own gallery delivery service.
//   keepframe-gallery [serve] [options]    serves the API, uploads and gallery pages
//   keepframe-gallery admin COMMAND …      photographers, quotas, top-ups
#include "admin.h"
#include "config.h"
#include "db.h"
#include "log.h"
#include "paths.h"
#include "platform.h"
#include "schema.h"
#include "server.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

using namespace keepframe;
using namespace keepframe::gallery;

namespace {

const char* const kUsage = R"(usage: keepframe-gallery [serve] [--data DIR] [--database URL] [--host H] [--port N]
                         [--public-url URL] [--behind-proxy] [--models DIR|none]
                         [--first-photographer NAME] [--upload-url-seconds N]
       keepframe-gallery admin [--data DIR | --database URL] COMMAND …
                         (keepframe-gallery admin alone lists the commands)

  --data DIR          the service's folder: SQLite database, stored photographs
                      (default ~/.local/share/keepframe-gallery)
  --database URL      postgresql://… to share one database between several instances
  --host H, --port N  where to listen (default 127.0.0.1:8790; port 0 picks a free one)
  --public-url URL    the address clients use (needed behind a proxy: https://…)
  --behind-proxy      TLS ends at a reverse proxy on this machine (see the README's nginx site)
  --models DIR        the face models for face data (default: the models folder of the build)
  --first-photographer NAME
                      on a service without photographers, adds NAME and prints the token
  --upload-url-seconds N
                      how long an upload address stays valid (default 21600: six hours)
)";

std::atomic<bool> stopRequested{false};

void requestStop(int) { stopRequested = true; }

std::string defaultDataDir() {
#ifdef _WIN32
    const char* base = std::getenv("LOCALAPPDATA");
    return base ? std::string(base) + "/keepframe-gallery" : "keepframe-gallery";
#else
    const char* home = std::getenv("HOME");
    return home ? std::string(home) + "/.local/share/keepframe-gallery" : "keepframe-gallery";
#endif
}

// The models folder of an installed tree, next to the program, or the one the
// build makes beside it; then $KEEPFRAME_MODELS.
std::string defaultModelsDir(const char* argv0) {
    std::filesystem::path program = runningProgramFolder();
    if (program.empty()) {
        std::error_code error;
        program = std::filesystem::absolute(utf8ToPath(argv0), error).parent_path();
    }
    const std::filesystem::path installed =
        (program / utf8ToPath(KEEPFRAME_DATA_FROM_PROGRAMS) / "models").lexically_normal();
    const std::filesystem::path built = program.parent_path() / "app" / "models";
    for (const std::filesystem::path& candidate : {installed, program / "models", built})
        if (std::filesystem::is_regular_file(candidate / "buffalo_l" / "w600k_r50.onnx")) return pathToUtf8(candidate);
    const char* env = std::getenv("KEEPFRAME_MODELS");
    return env ? env : "";
}

int bad(const std::string& problem) {
    std::cerr << "keepframe-gallery: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    preparePlatform();
    std::vector<std::string> args(argv + 1, argv + argc);
    bool admin = false;
    if (!args.empty() && (args[0] == "serve" || args[0] == "admin")) {
        admin = args[0] == "admin";
        args.erase(args.begin());
    }
    GalleryConfig config;
    config.dataDir = defaultDataDir();
    config.modelsDir = defaultModelsDir(argv[0]);
    std::string firstPhotographer;
    std::vector<std::string> rest;  // the admin command and its arguments
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        std::string* into = a == "--data" ? &config.dataDir : a == "--database" ? &config.databaseUrl : nullptr;
        if (!admin && !into) {
            into = a == "--host"                 ? &config.host
                   : a == "--public-url"         ? &config.publicUrl
                   : a == "--models"             ? &config.modelsDir
                   : a == "--first-photographer" ? &firstPhotographer
                                                 : nullptr;
        }
        std::string port, lifetime;
        if (!admin && a == "--port") into = &port;
        if (!admin && a == "--upload-url-seconds") into = &lifetime;
        if (into) {
            if (i + 1 >= args.size()) return bad(a + " needs a value");
            *into = args[++i];
        } else if (!admin && a == "--behind-proxy") {
            config.behindProxy = true;
        } else if (admin) {
            rest.push_back(a);
        } else {
            return bad("unknown option or argument " + a);
        }
        if (a == "--port") {
            if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
                return bad("--port takes a number from 0 to 65535");
            config.port = std::stoi(port);
        }
        if (a == "--upload-url-seconds") {
            if (lifetime.empty() || lifetime.size() > 7 ||
                lifetime.find_first_not_of("0123456789") != std::string::npos)
                return bad("--upload-url-seconds takes a whole number of seconds");
            config.uploadUrlSeconds = std::stoi(lifetime);
        }
    }
    if (config.modelsDir == "none") config.modelsDir.clear();

    const Log log([](LogLevel level, std::string_view line) { std::cerr << logLine(level, line) << std::endl; });
    if (admin) {
        try {
            std::filesystem::create_directories(utf8ToPath(config.dataDir));
            const std::string url = config.databaseUrl.empty()
                                        ? pathToUtf8(utf8ToPath(config.dataDir) / "gallery.db")
                                        : config.databaseUrl;
            const auto db = Database::open(url, Log(), 2);
            migrate(*db, Log());
            return runAdmin(*db, rest, std::cout, std::cerr);
        } catch (const std::exception& e) {
            std::cerr << "keepframe-gallery admin: " << e.what() << "\n";
            return 1;
        }
    }

    const std::string problem = configProblem(config);
    if (!problem.empty()) return bad(problem);
    try {
        GalleryServer server(config, log);
        if (!server.bind()) return 1;
        if (!firstPhotographer.empty() && listPhotographers(server.database()).empty()) {
            const std::string token = addPhotographer(server.database(), firstPhotographer, config.defaultQuotaBytes,
                                                      config.termMonths);
            std::cout << "first photographer \"" << firstPhotographer << "\" added.\n"
                      << "  Service address: " << server.origin() << "\n"
                      << "  Access token (shown only now): " << token << "\n"
                      << "Paste both into Keepframe's Account page.\n";
        }
        // The bound address first (tests and scripts read this line), then the one clients use.
        GalleryConfig bound = config;
        bound.publicUrl.clear();
        std::cout << "listening on " << publicOrigin(bound, server.port()) << std::endl;
        if (server.origin() != publicOrigin(bound, server.port()))
            std::cout << "clients reach it at " << server.origin() << std::endl;
        std::cout << "face models: " << (config.modelsDir.empty() ? "none" : config.modelsDir) << std::endl;
        std::signal(SIGINT, requestStop);
        std::signal(SIGTERM, requestStop);
        // A stop asked for before the server listens would be lost, so it is
        // asked for again until serve() has returned.
        std::atomic<bool> served{false};
        std::thread watcher([&server, &served] {
            while (!served) {
                if (stopRequested) server.stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        server.serve();
        served = true;
        watcher.join();
        log.info("stopped");
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "keepframe-gallery: " << e.what() << "\n";
        return 1;
    }
}
