// What the photographer's clients reach without a token: the gallery page
// (a password form, exchanged for a session cookie, then the photographs)
// and the payment codes of storage top-ups.
#include "server_internal.h"

#include "clock.h"
#include "crypto.h"
#include "face_search.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <fstream>
#include <map>

namespace keepframe::gallery {

const char* const kPageStyle =
    "body{font-family:sans-serif;background:#14110f;color:#eee;margin:2em}"
    "h1{font-weight:400}form{margin:2em 0}input,button{font-size:1.1em;padding:.4em}"
    ".grid{display:flex;flex-wrap:wrap;gap:8px}.grid figure{margin:0}.grid img{height:220px;display:block}"
    "figcaption{font-size:.8em;color:#aaa}a{color:#e8b86d}.note{color:#e88}";

namespace {

using httplib::Request;
using httplib::Response;

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// A file name in a Content-Disposition header: printable ASCII without quotes
// or backslashes in the plain form, the whole name percent-encoded as UTF-8.
std::string dispositionName(const std::string& name) {
    std::string plain, encoded;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        plain += (u >= 32 && u < 127 && c != '"' && c != '\\' && c != '/') ? c : '_';
        if (std::isalnum(u) && u < 128) {
            encoded += c;
        } else {
            static const char digits[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += digits[u >> 4];
            encoded += digits[u & 15];
        }
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

// The value of cookie `name` in a Cookie header; empty when it is not there.
std::string cookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ';')) ++at;
        const size_t end = std::min(header.find(';', at), header.size());
        const size_t equals = header.find('=', at);
        if (equals < end && header.compare(at, equals - at, name) == 0 && equals - at == name.size())
            return header.substr(equals + 1, end - equals - 1);
        at = end;
    }
    return {};
}

struct GalleryRow {
    std::string id, title, studio, phone;
    bool allowDownload = false;
    bool faceSearch = false;
};

}  // namespace

void GalleryServer::State::addPageRoutes() {
    httplib::Server& http = this->http;

    // A page: its own policy allows the style sheet above and images of this origin only.
    auto sendPage = [this](Response& response, int status, const std::string& title, const std::string& content) {
        response.status = status;
        response.set_header("Content-Security-Policy", "default-src 'none'; img-src 'self'; style-src " +
                                                           pageStyleHash +
                                                           "; form-action 'self'; frame-ancestors 'none'; "
                                                           "base-uri 'none'");
        response.set_header("X-Frame-Options", "DENY");
        response.set_header("Cache-Control", "no-store");
        response.set_content("<!doctype html><html lang=en><meta charset=utf-8>"
                             "<meta name=viewport content=\"width=device-width\"><title>" +
                                 escapeHtml(title) + "</title><style>" + kPageStyle + "</style><body>" + content +
                                 "</body></html>",
                             "text/html; charset=utf-8");
    };
    auto findGallery = [this](const std::string& slug) -> std::optional<GalleryRow> {
        if (slug.empty() || slug.size() > 64) return std::nullopt;
        const Rows rows = db->read([&](Connection& c) {
            return c.query(R"sql(
SELECT g.id, g.title, p.studio_name, p.public_contact_phone, g.allow_download, g.face_search
FROM galleries g JOIN photographers p ON p.id = g.photographer_id
WHERE g.slug = $1 AND g.status = 'active' AND p.revoked = 0)sql",
                           {slug});
        });
        if (rows.empty()) return std::nullopt;
        const Row& r = rows[0];
        return GalleryRow{r.text(0), r.text(1), r.text(2), r.text(3), r.integer(4) != 0, r.integer(5) != 0};
    };
    // Whether the request carries a live session of this gallery.
    auto hasSession = [this](const Request& request, const std::string& galleryId) {
        const std::string key = cookieValue(request.get_header_value("Cookie"), "kfg_" + galleryId);
        if (key.size() != 64) return false;
        return db->read([&](Connection& c) {
            return !c.query(R"(SELECT 1 FROM sessions WHERE key_hash = $1 AND gallery_id = $2 AND expires_at > $3)",
                            {sha256Hex(key), galleryId, nowSeconds()})
                        .empty();
        });
    };
    auto loginForm = [](const GalleryRow& g, const std::string& slug, const std::string& note) {
        return "<h1>" + escapeHtml(g.title) + "</h1>" +
               (g.studio.empty() ? "" : "<p>" + escapeHtml(g.studio) + "</p>") +
               (note.empty() ? "" : "<p class=note>" + escapeHtml(note) + "</p>") +
               "<form method=post action=\"/gallery.html?g=" + escapeHtml(slug) +
               "\"><input type=password name=password autofocus autocomplete=current-password "
               "aria-label=Password placeholder=\"Gallery password\"> <button>Open gallery</button></form>";
    };
    auto photoList = [this](const GalleryRow& g, const std::string& slug) {
        std::string items;
        const Rows files = db->read([&](Connection& c) {
            return c.query(R"(SELECT id, filename FROM files WHERE gallery_id = $1 AND state = 'confirmed'
                           ORDER BY position)",
                           {g.id});
        });
        for (const Row& f : files) {
            const std::string src = "/gallery/" + escapeHtml(slug) + "/photo/" + f.text(0);
            items += "<figure><img loading=lazy src=\"" + src + "\" alt=\"" + escapeHtml(f.text(1)) +
                     "\"><figcaption>" + escapeHtml(f.text(1)) +
                     (g.allowDownload ? " · <a href=\"" + src + "?download=1\">Download</a>" : "") +
                     "</figcaption></figure>";
        }
        return "<h1>" + escapeHtml(g.title) + "</h1>" +
               (g.studio.empty() ? "" : "<p>" + escapeHtml(g.studio) + " " + escapeHtml(g.phone) + "</p>") +
               "<div class=grid>" + items + "</div>";
    };

    // Counts one password attempt of `address` on a gallery, before the
    // password is checked; false when the address or the gallery as a whole
    // has used up its attempts of the window.
    auto attemptAllowed = [this](const std::string& galleryId, const std::string& address) {
        const int64_t now = nowSeconds(), window = now - config.loginWindowSeconds;
        return db->write([&](Connection& c) {
            for (const std::string& who : {address, std::string("*")}) {
                c.query(R"(DELETE FROM login_attempts WHERE gallery_id = $1 AND address = $2 AND window_start < $3)",
                        {galleryId, who, window});
                c.query(R"sql(INSERT INTO login_attempts (gallery_id, address, window_start, attempts)
VALUES ($1, $2, $3, 1)
ON CONFLICT (gallery_id, address) DO UPDATE SET attempts = login_attempts.attempts + 1)sql",
                        {galleryId, who, now});
            }
            const Rows counts = c.query(R"(SELECT address, attempts FROM login_attempts WHERE gallery_id = $1 AND
                                        address IN ($2, '*'))",
                                        {galleryId, address});
            for (const Row& r : counts) {
                const int64_t limit = r.text(0) == "*" ? config.loginAttemptsPerGallery : config.loginAttempts;
                if (r.integer(1) > limit) return false;
            }
            return true;
        });
    };
    auto tooManyAttempts = [this] {
        return "Too many attempts. Try again in " + std::to_string(config.loginWindowSeconds / 60) + " minutes.";
    };
    auto passwordHash = [this](const std::string& galleryId) {
        return db->read([&](Connection& c) {
            return c.query(R"(SELECT password_hash FROM galleries WHERE id = $1)", {galleryId}).at(0).text(0);
        });
    };
    auto passwordMatches = [this](const std::string& password, const std::string& hash) {
        return password.size() <= size_t(config.maxTextBytes) &&
               passwordGate.pass([&] { return verifyPassword(password, hash); });
    };

    http.Get("/gallery.html", guarded(log, [=, this](const Request& request, Response& response) {
        const std::string slug = request.get_param_value("g");
        const auto g = findGallery(slug);
        if (!g) return sendPage(response, 404, "No such gallery", "<h1>No such gallery</h1>");
        if (!hasSession(request, g->id)) return sendPage(response, 401, g->title, loginForm(*g, slug, ""));
        sendPage(response, 200, g->title, photoList(*g, slug));
    }));

    http.Post("/gallery.html", guarded(log, [=, this](const Request& request, Response& response) {
        const std::string slug = request.get_param_value("g");
        const auto g = findGallery(slug);
        if (!g) return sendPage(response, 404, "No such gallery", "<h1>No such gallery</h1>");
        httplib::Params form;
        httplib::detail::parse_query_text(request.body, form);
        const auto field = form.find("password");
        const std::string password = field == form.end() ? "" : field->second;
        const std::string address = clientAddress(request);
        const int64_t now = nowSeconds();
        if (!attemptAllowed(g->id, address)) {
            response.set_header("Retry-After", std::to_string(config.loginWindowSeconds));
            return sendPage(response, 429, g->title, loginForm(*g, slug, tooManyAttempts()));
        }
        const std::string hash = passwordHash(g->id);
        if (!passwordMatches(password, hash))
            return sendPage(response, 401, g->title, loginForm(*g, slug, "Wrong password."));
        const std::string key = randomHex(32);
        db->write([&](Connection& c) {
            // The session belongs to the password it was opened with: a change
            // of password deletes it (api.cpp), and so does a hash that changed meanwhile.
            if (c.query(R"(SELECT 1 FROM galleries WHERE id = $1 AND password_hash = $2)", {g->id, hash}).empty())
                throw ApiError{409, "The gallery's password changed; try again"};
            c.query(R"(INSERT INTO sessions (key_hash, gallery_id, expires_at) VALUES ($1, $2, $3))",
                    {sha256Hex(key), g->id, now + config.sessionSeconds});
            c.query(R"(DELETE FROM login_attempts WHERE gallery_id = $1 AND address = $2)", {g->id, address});
        });
        const bool secure = config.behindProxy || origin.rfind("https://", 0) == 0;
        response.set_header("Set-Cookie", "kfg_" + g->id + "=" + key + "; Path=/; Max-Age=" +
                                              std::to_string(config.sessionSeconds) + "; HttpOnly; SameSite=Strict" +
                                              (secure ? "; Secure" : ""));
        response.set_header("Cache-Control", "no-store");
        response.set_redirect("/gallery.html?g=" + slug, 303);
    }));

    http.Get(R"(/gallery/([^/]+)/photo/([^/]+))", guarded(log, [=, this](const Request& request, Response& response) {
        const std::string slug = request.matches[1], fileId = request.matches[2];
        const auto g = findGallery(slug);
        if (!g || !isServiceId(fileId)) throw ApiError{404, "Not found"};
        if (!hasSession(request, g->id)) throw ApiError{401, "Open the gallery with its password first"};
        const bool download = request.get_param_value("download") == "1";
        if (download && !g->allowDownload) throw ApiError{403, "Downloads are switched off for this gallery"};
        const Rows rows = db->read([&](Connection& c) {
            return c.query(R"(SELECT storage_key, filename, stored_bytes FROM files WHERE id = $1 AND gallery_id = $2
                           AND state = 'confirmed')",
                           {fileId, g->id});
        });
        if (rows.empty()) throw ApiError{404, "Not found"};
        const std::filesystem::path path = blobs->pathOf(rows[0].text(0));
        auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
        if (path.empty() || !*file) throw ApiError{404, "Not found"};
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        if (error) throw ApiError{404, "Not found"};
        response.set_header("Cache-Control", "private, max-age=3600");
        if (download) response.set_header("Content-Disposition", dispositionName(rows[0].text(1)));
        // Streamed from disk in pieces: readers never hold a whole photograph in memory.
        response.set_content_provider(size_t(size), "image/jpeg",
                                      [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                          char buffer[64 * 1024];
                                          file->seekg(std::streamoff(offset));
                                          const size_t want = std::min(length, sizeof buffer);
                                          file->read(buffer, std::streamsize(want));
                                          const auto got = size_t(file->gcount());
                                          return got > 0 && sink.write(buffer, got);
                                      });
    }));

    // "Find my photos": the selfie is the body (image/jpeg), the gallery is
    // opened by its session or by its password in X-Gallery-Password (which
    // counts as an attempt like the form's). The selfie is never stored.
    http.Post(R"(/gallery/([^/]+)/face-search)", guarded(log, [=, this](const Request& request, Response& response) {
        const std::string slug = request.matches[1];
        const auto g = findGallery(slug);
        if (!g) throw ApiError{404, "No such gallery"};
        if (request.has_header("X-Gallery-Password")) {
            if (!attemptAllowed(g->id, clientAddress(request))) {
                response.set_header("Retry-After", std::to_string(config.loginWindowSeconds));
                throw ApiError{429, tooManyAttempts()};
            }
            if (!passwordMatches(request.get_header_value("X-Gallery-Password"), passwordHash(g->id)))
                throw ApiError{401, "Wrong password"};
        } else if (!hasSession(request, g->id)) {
            throw ApiError{401, "Open the gallery with its password first"};
        }
        if (!g->faceSearch) throw ApiError{404, "Face search is off for this gallery"};
        if (!searcher) throw ApiError{503, "Face search is not available on this service"};
        const std::string type = request.get_header_value("Content-Type");
        if (type.substr(0, type.find(';')) != "image/jpeg")
            throw ApiError{415, "The selfie must be sent as image/jpeg"};
        const SelfieFace selfie = searcher->embedSelfie(request.body);
        if (selfie.embedding.empty()) throw ApiError{selfie.status, selfie.problem};
        const int64_t version = db->read([&](Connection& c) {
            return c.query(R"(SELECT face_version FROM galleries WHERE id = $1)", {g->id}).at(0).integer(0);
        });
        const FaceSearcher::Faces faces = searcher->galleryFaces(g->id, version, [&] {
            std::vector<StoredFace> stored;
            db->read([&](Connection& c) {
                for (const Row& r :
                     c.query(R"(SELECT file_id, embedding FROM face_data WHERE gallery_id = $1)", {g->id}))
                    stored.push_back({r.text(0), unpackEmbedding(r.text(1))});
                return 0;
            });
            return stored;
        });
        std::map<std::string, std::string> names;
        db->read([&](Connection& c) {
            for (const Row& r :
                 c.query(R"(SELECT id, filename FROM files WHERE gallery_id = $1 AND state = 'confirmed')", {g->id}))
                names[r.text(0)] = r.text(1);
            return 0;
        });
        json matches = json::array();
        for (const FaceMatch& m : matchFaces(selfie.embedding, *faces, config.faceMatchThreshold)) {
            const auto name = names.find(m.fileId);
            if (name != names.end())
                matches.push_back({{"file_id", m.fileId}, {"filename", name->second}, {"score", m.score}});
        }
        response.set_header("Cache-Control", "no-store");
        sendJson(response, 200, {{"matches", matches}});
    }));

    // The payment code of a top-up: the top-up's unguessable identifier is
    // the only key, as the client shows the image without the token. The
    // code carries the top-up for the administrator who approves it.
    http.Get(R"(/pay/qr/([^/]+)\.png)", guarded(log, [this](const Request& request, Response& response) {
        const std::string id = request.matches[1];
        if (!isServiceId(id)) throw ApiError{404, "Top-up not found"};
        const Rows rows = db->read([&](Connection& c) {
            return c.query(R"(SELECT additional_gb, amount_rupees FROM topups WHERE id = $1)", {id});
        });
        if (rows.empty()) throw ApiError{404, "Top-up not found"};
        const std::string text = "KEEPFRAME-TOPUP:" + id + ":" + rows[0].text(0) + "GB:INR" + rows[0].text(1);
        cv::Mat code;
        cv::QRCodeEncoder::create()->encode(text, code);
        if (code.empty()) throw ApiError{503, "The payment code could not be made"};
        cv::Mat framed, large;
        cv::copyMakeBorder(code, framed, 4, 4, 4, 4, cv::BORDER_CONSTANT, cv::Scalar(255));
        const int scale = std::max(1, 320 / framed.cols);
        cv::resize(framed, large, cv::Size(), scale, scale, cv::INTER_NEAREST);
        std::vector<uint8_t> png;
        if (!cv::imencode(".png", large, png)) throw ApiError{503, "The payment code could not be made"};
        response.set_header("Cache-Control", "no-store");
        response.set_content(reinterpret_cast<const char*>(png.data()), png.size(), "image/png");
    }));
}

}  // namespace keepframe::gallery
