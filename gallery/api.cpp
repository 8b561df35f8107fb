// The photographer's API, as the desktop client uses it: every route needs the
// bearer token and sees only that photographer's galleries, files, profile
// and top-ups. Another photographer's identifier is answered as unknown.
#include "server_internal.h"

#include "clock.h"
#include "crypto.h"

#include <cmath>

namespace keepframe::gallery {

namespace {

using httplib::Request;
using httplib::Response;

// The gallery `id` of this photographer; throws 404 for any other.
void requireOwnGallery(Connection& c, const Photographer& p, const std::string& id, bool lock = false,
                       const std::string& forUpdate = "") {
    if (!isServiceId(id)) throw ApiError{404, "Gallery not found"};
    const std::string sql =
        R"(SELECT 1 FROM galleries WHERE id = $1 AND photographer_id = $2)" + (lock ? forUpdate : "");
    if (c.query(sql, {id, p.id}).empty()) throw ApiError{404, "Gallery not found"};
}

// Months left of the photographer's term, at least one.
int64_t remainingMonths(int64_t termEndsAt) {
    const int64_t left = termEndsAt - nowSeconds();
    return std::max<int64_t>(1, (left + 30 * 86400 - 1) / (30 * 86400));
}

}  // namespace

void GalleryServer::State::addApiRoutes() {
    httplib::Server& http = this->http;

    http.Get("/deliver/galleries", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        json body = db->read([&](Connection& c) {
            const Rows owner =
                c.query(R"(SELECT quota_bytes, lifetime_galleries FROM photographers WHERE id = $1)", {p.id});
            const int64_t quota = owner.at(0).integer(0), used = usedBytes(c, p.id);
            const Rows rows = c.query(R"sql(
SELECT g.id, g.title, g.slug, g.status, g.face_search, g.created_at,
       (SELECT COUNT(*) FROM files f WHERE f.gallery_id = g.id AND f.state = 'confirmed'),
       (SELECT COALESCE(SUM(f.stored_bytes), 0) FROM files f WHERE f.gallery_id = g.id AND f.state = 'confirmed'),
       (SELECT COUNT(*) FROM face_data d WHERE d.gallery_id = g.id)
FROM galleries g WHERE g.photographer_id = $1
ORDER BY g.created_at DESC, g.id)sql",
                                      {p.id});
            json galleries = json::array();
            for (const Row& r : rows)
                galleries.push_back({{"gallery_id", r.text(0)},
                                     {"title", r.text(1)},
                                     {"slug", r.text(2)},
                                     {"status", r.text(3)},
                                     {"face_search_enabled", r.integer(4) != 0},
                                     {"created_at", isoUtc(r.integer(5) / 1'000'000)},
                                     {"file_count", r.integer(6)},
                                     {"size_bytes", r.integer(7)},
                                     {"face_data_rows", r.integer(8)}});
            return json{{"quota_bytes", quota},
                        {"used_bytes", used},
                        {"remaining_bytes", std::max<int64_t>(0, quota - used)},
                        {"lifetime_galleries_created", owner.at(0).integer(1)},
                        {"galleries", galleries}};
        });
        sendJson(response, 200, body);
    }));

    http.Get(R"(/deliver/galleries/([^/]+)/files)", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const std::string id = request.matches[1];
        json body = db->read([&](Connection& c) {
            requireOwnGallery(c, p, id);
            const Rows cover = c.query(R"(SELECT COALESCE(cover_file_id, '') FROM galleries WHERE id = $1)", {id});
            json files = json::array();
            for (const Row& r : c.query(R"(SELECT id, filename FROM files WHERE gallery_id = $1 AND state = 'confirmed'
                                        ORDER BY position)",
                                        {id}))
                files.push_back({{"file_id", r.text(0)}, {"filename", r.text(1)}});
            return json{{"current_cover_file_id", cover.at(0).text(0)}, {"files", files}};
        });
        sendJson(response, 200, body);
    }));

    http.Post(R"(/deliver/galleries/([^/]+)/settings)",
              guarded(log, [this](const Request& request, Response& response) {
                  const Photographer p = authenticate(request);
                  const std::string id = request.matches[1];
                  const json body = jsonBody(request);
                  if (body.size() != 1) throw ApiError{422, "Exactly one setting expected"};
                  const std::string key = body.begin().key();
                  db->write([&](Connection& c) {
                      requireOwnGallery(c, p, id, true, db->forUpdate());
                      if (key == "cover_file_id") {
                          const std::string file = textField(body, "cover_file_id", 64, true);
                          if (c.query(
                                   R"(SELECT 1 FROM files WHERE id = $1 AND gallery_id = $2 AND state = 'confirmed')",
                                   {file, id})
                                  .empty())
                              throw ApiError{422, "No such file in this gallery"};
                          c.query(R"(UPDATE galleries SET cover_file_id = $1 WHERE id = $2)", {file, id});
                      } else if (key == "allow_download") {
                          const bool allow = boolField(body, "allow_download", true);
                          c.query(R"(UPDATE galleries SET allow_download = $1 WHERE id = $2)", {int64_t(allow), id});
                      } else if (key == "face_search_enabled") {
                          const bool on = boolField(body, "face_search_enabled", false);
                          c.query(R"(UPDATE galleries SET face_search = $1 WHERE id = $2)", {int64_t(on), id});
                          // Switched off, the gallery's face data goes: nothing of the faces is kept.
                          if (!on) {
                              c.query(R"(DELETE FROM face_data WHERE gallery_id = $1)", {id});
                              c.query(R"(DELETE FROM face_jobs WHERE gallery_id = $1)", {id});
                              c.query(R"(UPDATE galleries SET face_version = face_version + 1 WHERE id = $1)", {id});
                          }
                      } else {
                          throw ApiError{422, "Unknown setting " + key};
                      }
                  });
                  sendJson(response, 200, {{"ok", true}});
              }));

    http.Delete(R"(/deliver/galleries/([^/]+))", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const std::string id = request.matches[1];
        db->write([&](Connection& c) {
            requireOwnGallery(c, p, id, true, db->forUpdate());
            deleteGalleryRows(c, id);
        });
        removeGalleryFiles(id);
        log.info("gallery " + id + " of " + p.name + " deleted");
        sendJson(response, 200, {{"ok", true}});
    }));

    http.Post(R"(/gallery/([^/]+)/change-password)", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const std::string id = request.matches[1];
        const json body = jsonBody(request);
        db->read([&](Connection& c) { requireOwnGallery(c, p, id); });
        const std::string password = textField(body, "new_password", size_t(config.maxTextBytes), true);
        if (password.empty()) throw ApiError{422, "Password must not be empty"};
        const std::string hash = passwordGate.pass([&] { return hashPassword(password, hashing()); });
        db->write([&](Connection& c) {
            requireOwnGallery(c, p, id, true, db->forUpdate());
            c.query(R"(UPDATE galleries SET password_hash = $1 WHERE id = $2)", {hash, id});
            // Every session opened with the old password ends now.
            c.query(R"(DELETE FROM sessions WHERE gallery_id = $1)", {id});
        });
        sendJson(response, 200, {{"ok", true}});
    }));

    http.Get("/deliver/profile", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const Rows rows = db->read([&](Connection& c) {
            return c.query(R"(SELECT studio_name, public_contact_phone FROM photographers WHERE id = $1)", {p.id});
        });
        sendJson(response, 200, {{"studio_name", rows.at(0).text(0)}, {"public_contact_phone", rows.at(0).text(1)}});
    }));

    http.Post("/deliver/profile", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const json body = jsonBody(request);
        const size_t limit = size_t(config.maxTextBytes);
        const bool hasName = body.contains("studio_name"), hasPhone = body.contains("public_contact_phone");
        const std::string name = textField(body, "studio_name", limit, false);
        const std::string phone = textField(body, "public_contact_phone", limit, false);
        db->write([&](Connection& c) {
            if (hasName) c.query(R"(UPDATE photographers SET studio_name = $1 WHERE id = $2)", {name, p.id});
            if (hasPhone) c.query(R"(UPDATE photographers SET public_contact_phone = $1 WHERE id = $2)", {phone, p.id});
        });
        sendJson(response, 200, {{"ok", true}});
    }));

    http.Post("/deliver/storage/topup", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const json body = jsonBody(request);
        const int64_t gb = intField(body, "additional_gb", 0, 100'000, 0);
        if (gb <= 0 || gb % 10 != 0) throw ApiError{422, "additional_gb must be a positive multiple of 10"};
        const std::string id = newId("tp_");
        const int64_t now = nowSeconds();
        const json answer = db->write([&](Connection& c) {
            const int64_t months = remainingMonths(
                c.query(R"(SELECT term_ends_at FROM photographers WHERE id = $1)", {p.id}).at(0).integer(0));
            const int64_t rupees =
                int64_t(std::ceil(double(gb) * config.topupRupeesPerGbYear * double(months) / 12.0));
            c.query(R"(INSERT INTO topups (id, photographer_id, additional_gb, remaining_months, amount_rupees, status,
                    created_at, expires_at) VALUES ($1, $2, $3, $4, $5, 'pending', $6, $7))",
                    {id, p.id, gb, months, rupees, now, now + int64_t(config.topupMinutes) * 60});
            return json{{"topup_id", id},
                        {"additional_gb", gb},
                        {"remaining_months", months},
                        {"amount_rupees", rupees},
                        {"qr_code_id", "qr_" + id},
                        {"qr_image_url", origin + "/pay/qr/" + id + ".png"}};
        });
        log.info("top-up " + id + " of " + std::to_string(gb) + " GB requested by " + p.name +
                 "; approve it with: keepframe-gallery admin approve-topup " + id);
        sendJson(response, 200, answer);
    }));

    http.Get(R"(/deliver/storage/topup/([^/]+)/status)", guarded(log, [this](const Request& request,
                                                                             Response& response) {
        const Photographer p = authenticate(request);
        const std::string id = request.matches[1];
        if (!isServiceId(id)) throw ApiError{404, "Top-up not found"};
        const json answer = db->write([&](Connection& c) {
            c.query(R"(UPDATE topups SET status = 'expired' WHERE id = $1 AND status = 'pending' AND expires_at < $2)",
                    {id, nowSeconds()});
            const Rows rows =
                c.query(R"(SELECT t.status, t.additional_gb, p.quota_bytes FROM topups t JOIN photographers p
                                      ON p.id = t.photographer_id WHERE t.id = $1 AND t.photographer_id = $2)",
                        {id, p.id});
            if (rows.empty()) throw ApiError{404, "Top-up not found"};
            return json{{"status", rows[0].text(0)},
                        {"added_gb", rows[0].integer(1)},
                        {"storage_quota_bytes", rows[0].integer(2)}};
        });
        sendJson(response, 200, answer);
    }));
}

}  // namespace keepframe::gallery
