// What the photographer's clients reach without a token: the gallery page
// (a password form, exchanged for a session cookie, then the photographs)
// and the payment codes of storage top-ups.
#include "server_internal.h"

#include "clock.h"
#include "crypto.h"
#include "face_search.h"
#include "renditions.h"
#include "zip_stream.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <fstream>
#include <future>
#include <map>

namespace keepframe::gallery {

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

// Sends the file at `path` in pieces read from disk: readers never hold a
// whole photograph in memory. Throws 404 when it cannot be opened.
void streamFile(Response& response, const std::filesystem::path& path) {
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (path.empty() || !*file) throw ApiError{404, "Not found"};
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) throw ApiError{404, "Not found"};
    response.set_content_provider(size_t(size), "image/jpeg",
                                  [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                      char buffer[64 * 1024];
                                      file->seekg(std::streamoff(offset));
                                      const size_t want = std::min(length, sizeof buffer);
                                      file->read(buffer, std::streamsize(want));
                                      const auto got = size_t(file->gcount());
                                      return got > 0 && sink.write(buffer, got);
                                  });
}

// The whole-gallery download in progress: one file open at a time, each
// handed to the archive in pieces as the connection takes them.
struct ZipDownload {
    struct Item {
        std::filesystem::path path;
        std::string name;
        int64_t delivered = 0;  // seconds since 1970, the entry's time
    };
    std::vector<Item> items;
    size_t next = 0;
    std::ifstream file;
    uint64_t left = 0;
    bool inEntry = false;
    httplib::DataSink* sink = nullptr;
    ZipStream zip{[this](const char* data, size_t size) { return sink->write(data, size); }};

    // Sends the next piece; false ends the response early (the archive is then incomplete).
    bool step(httplib::DataSink& to) {
        sink = &to;
        if (!inEntry) {
            if (next == items.size()) {
                if (!zip.finish()) return false;
                to.done();
                return true;
            }
            const Item& item = items[next];
            file = std::ifstream(item.path, std::ios::binary);
            std::error_code error;
            const auto size = std::filesystem::file_size(item.path, error);
            if (!file || error) return false;
            left = size;
            inEntry = true;
            return zip.begin(item.name, size, item.delivered);
        }
        char buffer[256 * 1024];
        const auto want = std::streamsize(std::min<uint64_t>(left, sizeof buffer));
        if (want > 0) {
            file.read(buffer, want);
            if (file.gcount() != want || !zip.write(buffer, size_t(want))) return false;
            left -= uint64_t(want);
        }
        if (left > 0) return true;
        inEntry = false;
        ++next;
        file.close();
        return zip.end();
    }
};

struct GalleryRow {
    std::string id, title, studio, phone;
    bool allowDownload = false;
    bool faceSearch = false;
};

}  // namespace

void GalleryServer::State::addPageRoutes() {
    httplib::Server& http = this->http;

    // A page: its own policy allows its style sheet, its script and requests to this origin only.
    auto sendPage = [this](Response& response, int status, const std::string& title, const std::string& content) {
        response.status = status;
        response.set_header("Content-Security-Policy",
                             "default-src 'none'; img-src 'self'; style-src " + pageStyleHash +
                                 "; script-src 'self'; connect-src 'self'; form-action 'self'; "
                                 "frame-ancestors 'none'; base-uri 'none'");
        response.set_header("X-Frame-Options", "DENY");
        response.set_header("Cache-Control", "no-store");
        response.set_content("<!doctype html><html lang=en><meta charset=utf-8>"
                             "<meta name=viewport content=\"width=device-width, initial-scale=1\"><title>" +
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
        return "<main class=login><h1>" + escapeHtml(g.title) + "</h1>" +
               (g.studio.empty() ? "" : "<p>" + escapeHtml(g.studio) + "</p>") +
               (note.empty() ? "" : "<p class=note id=login-note>" + escapeHtml(note) + "</p>") +
               "<form method=post action=\"/gallery.html?g=" + escapeHtml(slug) +
               "\"><input type=password name=password autofocus autocomplete=current-password "
               "aria-label=Password placeholder=\"Gallery password\"> <button>Open gallery</button></form></main>";
    };
    // The opened gallery: what the script fills in (photos.json) and what it works with.
    auto galleryPage = [this](const GalleryRow& g, const std::string& slug) {
        const Rows cover = db->read([&](Connection& c) {
            return c.query(R"(SELECT COALESCE(g.cover_file_id, (SELECT f.id FROM files f WHERE f.gallery_id = g.id AND
                           f.state = 'confirmed' ORDER BY f.position LIMIT 1), '') FROM galleries g WHERE g.id = $1)",
                           {g.id});
        });
        const std::string base = "/gallery/" + escapeHtml(slug);
        const std::string coverId = cover.empty() ? "" : cover[0].text(0);
        std::string contact;
        if (!g.studio.empty()) contact += escapeHtml(g.studio);
        if (!g.phone.empty())
            contact += (contact.empty() ? "" : " · ") + std::string("<a href=\"tel:") + escapeHtml(g.phone) + "\">" +
                       escapeHtml(g.phone) + "</a>";
        std::string html = "<div id=gallery data-slug=\"" + escapeHtml(slug) + "\"><header class=top><div class=studio>"
                           "<h1>" + escapeHtml(g.title) + "</h1>" + (contact.empty() ? "" : "<p id=contact>" + contact +
                           "</p>") + "</div>";
        if (g.allowDownload)
            html += "<a class=button id=download-all href=\"" + base + "/download.zip\" download>Download all</a>";
        html += "</header>";
        if (isServiceId(coverId))
            html += "<figure class=cover><img id=cover src=\"" + base + "/image/" + coverId + "/large\" alt=\"\">"
                    "</figure>";
        if (g.faceSearch && searcher)
            html += "<section class=find id=find><h2>Find my photos</h2><p>Take a selfie or choose a photo of "
                    "yourself to see the photos of this gallery you appear in, best match first.</p><p class=about>"
                    "The service looks for your face in it and compares it with the faces in these photos. Your "
                    "selfie is never stored: it is discarded as soon as the answer is sent. The photographer can "
                    "turn face search off for this gallery at any time, which deletes all of its face data.</p>"
                    "<label class=button for=selfie id=find-button>Find my "
                    "photos</label> <button class=quiet id=show-all hidden>Show all photos</button>"
                    "<input type=file id=selfie accept=\"image/*\" capture=user hidden>"
                    "<p class=status id=find-status role=status aria-live=polite></p></section>";
        html += "<main class=grid id=grid aria-label=Photos></main>"
                "<div class=viewer id=viewer hidden role=dialog aria-modal=true aria-label=\"Photo viewer\">"
                "<img id=viewer-image alt=\"\"><button class=\"nav prev\" id=viewer-prev aria-label=Previous>&#8249;"
                "</button><button class=\"nav next\" id=viewer-next aria-label=Next>&#8250;</button>"
                "<button class=close id=viewer-close aria-label=Close>&#215;</button><div class=bar>"
                "<span id=viewer-name></span>" +
                std::string(g.allowDownload ? "<a class=button id=viewer-download href=\"#\" download>Download</a>"
                                            : "") +
                "</div></div></div><script src=\"/gallery/page.js\"></script>";
        return html;
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
        sendPage(response, 200, g->title, galleryPage(*g, slug));
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
        // The photograph as delivered: a download, however it is asked for
        // (the page shows the renditions).
        const bool download = request.get_param_value("download") == "1";
        if (!g->allowDownload) throw ApiError{403, "Downloads are switched off for this gallery"};
        const Rows rows = db->read([&](Connection& c) {
            return c.query(R"(SELECT storage_key, filename FROM files WHERE id = $1 AND gallery_id = $2
                           AND state = 'confirmed')",
                           {fileId, g->id});
        });
        if (rows.empty()) throw ApiError{404, "Not found"};
        response.set_header("Cache-Control", "private, max-age=3600");
        if (download) response.set_header("Content-Disposition", dispositionName(rows[0].text(1)));
        streamFile(response, blobs->pathOf(rows[0].text(0)));
    }));

    // The page's image of a photograph: its rendition, made now when the
    // housekeeping thread has not come to it yet. A photograph whose
    // renditions cannot be made is shown as it is where downloads are allowed.
    http.Get(R"(/gallery/([^/]+)/image/([^/]+)/([a-z]+))", guarded(log, [=, this](const Request& request,
                                                                                  Response& response) {
        const std::string slug = request.matches[1], fileId = request.matches[2], kind = request.matches[3];
        const auto g = findGallery(slug);
        if (!g || !isServiceId(fileId) || !isRenditionKind(kind)) throw ApiError{404, "Not found"};
        if (!hasSession(request, g->id)) throw ApiError{401, "Open the gallery with its password first"};
        const Rows rows = db->read([&](Connection& c) {
            return c.query(R"(SELECT storage_key, renditions FROM files WHERE id = $1 AND gallery_id = $2
                           AND state = 'confirmed')",
                           {fileId, g->id});
        });
        if (rows.empty()) throw ApiError{404, "Not found"};
        const std::filesystem::path rendition = blobs->pathOf(BlobStore::keyFor(g->id, fileId, kind));
        const std::filesystem::path original = blobs->pathOf(rows[0].text(0));
        std::error_code error;
        bool made = rows[0].integer(1) == 1 && std::filesystem::is_regular_file(rendition, error);
        if (!made && rows[0].integer(1) == 0 && !original.empty()) {
            const RenditionsMade now =
                renditionGate.pass([&] { return makeRenditions(*blobs, g->id, fileId, original); });
            made = now.problem.empty();
            if (made)
                db->write([&](Connection& c) {
                    c.query(R"(UPDATE files SET renditions = 1, width = $1, height = $2 WHERE id = $3)",
                            {int64_t(now.width), int64_t(now.height), fileId});
                });
        }
        if (!made && !g->allowDownload) throw ApiError{404, "This photo cannot be shown"};
        response.set_header("Cache-Control", "private, max-age=86400");
        streamFile(response, made ? rendition : original);
    }));

    // What the page's script lays out: the photographs in the photographer's
    // order with their upright sizes, and what the gallery allows.
    http.Get(R"(/gallery/([^/]+)/photos\.json)", guarded(log, [=, this](const Request& request, Response& response) {
        const std::string slug = request.matches[1];
        const auto g = findGallery(slug);
        if (!g) throw ApiError{404, "No such gallery"};
        if (!hasSession(request, g->id)) throw ApiError{401, "Open the gallery with its password first"};
        json photos = json::array();
        db->read([&](Connection& c) {
            for (const Row& r : c.query(R"(SELECT id, filename, width, height FROM files WHERE gallery_id = $1 AND
                                        state = 'confirmed' ORDER BY position)",
                                        {g->id}))
                photos.push_back({{"file_id", r.text(0)},
                                  {"filename", r.text(1)},
                                  {"width", r.integer(2)},
                                  {"height", r.integer(3)}});
            return 0;
        });
        response.set_header("Cache-Control", "no-store");
        sendJson(response, 200,
                 {{"title", g->title},
                  {"studio_name", g->studio},
                  {"public_contact_phone", g->phone},
                  {"allow_download", g->allowDownload},
                  {"face_search", g->faceSearch && searcher != nullptr},
                  {"photos", photos}});
    }));

    // Every photograph as one zip archive, written into the response as it
    // goes (stored, not compressed: JPEGs do not shrink).
    http.Get(R"(/gallery/([^/]+)/download\.zip)", guarded(log, [=, this](const Request& request, Response& response) {
        const std::string slug = request.matches[1];
        const auto g = findGallery(slug);
        if (!g) throw ApiError{404, "No such gallery"};
        if (!hasSession(request, g->id)) throw ApiError{401, "Open the gallery with its password first"};
        if (!g->allowDownload) throw ApiError{403, "Downloads are switched off for this gallery"};
        auto download = std::make_shared<ZipDownload>();
        db->read([&](Connection& c) {
            for (const Row& r : c.query(R"(SELECT storage_key, filename, created_at FROM files WHERE gallery_id = $1
                                        AND state = 'confirmed' ORDER BY position)",
                                        {g->id})) {
                const std::filesystem::path path = blobs->pathOf(r.text(0));
                if (!path.empty()) download->items.push_back({path, r.text(1), r.integer(2)});
            }
            return 0;
        });
        response.set_header("Cache-Control", "no-store");
        response.set_header("Content-Disposition", dispositionName((g->title.empty() ? slug : g->title) + ".zip"));
        response.set_chunked_content_provider(
            "application/zip", [download](size_t, httplib::DataSink& sink) { return download->step(sink); });
    }));

    http.Get("/gallery/page.js", [](const Request&, Response& response) {
        response.set_header("Cache-Control", "no-cache");
        response.set_content(kPageScript, "text/javascript; charset=utf-8");
    });

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
        // The gallery's faces are read (when they are not in memory already)
        // while the selfie's face is found and embedded: the first search after
        // a change waits for the longer of the two, not for both.
        auto reading = std::async(std::launch::async, [&] { return galleryFaces(g->id); });
        const SelfieFace selfie = searcher->embedSelfie(request.body);
        const FaceSearcher::Faces faces = reading.get();
        if (selfie.embedding.empty()) throw ApiError{selfie.status, selfie.problem};
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
