// A delivery: the upload request creates the gallery and hands out one signed
// storage address per file; each file is PUT there (no token: the signature
// binds gallery, file, kind, size, content type and expiry) and streamed to
// disk; upload-complete confirms the files that arrived and queues their
// face crops.
#include "server_internal.h"

#include "clock.h"
#include "crypto.h"

#include <chrono>

namespace keepframe::gallery {

namespace {

using httplib::Request;
using httplib::Response;

struct Announced {
    std::string filename;
    std::string kind;  // the file the client will send: "compressed" when it declared that size
    int64_t bytes = 0;
};

struct FaceCropIn {
    std::string base64;
    int64_t x = 0, y = 0, width = 0, height = 0;
};

// The media type without parameters, lower case.
std::string mediaType(const std::string& header) {
    std::string type = header.substr(0, header.find(';'));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
    return type;
}

}  // namespace

void GalleryServer::State::addUploadRoutes() {
    httplib::Server& http = this->http;

    http.Post("/deliver/upload-request", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const json body = jsonBody(request);
        const size_t limit = size_t(config.maxTextBytes);
        const std::string title = textField(body, "gallery_title", limit, false);
        const std::string password = textField(body, "gallery_password", limit, true);
        if (password.empty()) throw ApiError{422, "gallery_password must not be empty"};
        const bool allowDownload = boolField(body, "allow_download", true);
        const bool faceSearch = boolField(body, "face_search_enabled", false);
        const auto files = body.find("files");
        if (files == body.end() || !files->is_array()) throw ApiError{422, "files must be a list of objects"};
        if (files->empty()) throw ApiError{422, "files must not be empty"};
        if (files->size() > size_t(config.maxFilesPerGallery))
            throw ApiError{422, "at most " + std::to_string(config.maxFilesPerGallery) + " files per gallery"};
        std::vector<Announced> announced;
        int64_t total = 0;
        for (const json& f : *files) {
            if (!f.is_object()) throw ApiError{422, "files must be a list of objects"};
            Announced a;
            a.filename = textField(f, "filename", limit, true);
            if (a.filename.empty()) throw ApiError{422, "filename must not be empty"};
            const std::string type = textField(f, "content_type", 64, false);
            if (!type.empty() && type != "image/jpeg") throw ApiError{422, "content_type must be image/jpeg"};
            const int64_t original = intField(f, "original_size_bytes", 0, config.maxUploadBytes, 0);
            const bool compressed = f.contains("compressed_size_bytes");
            a.kind = compressed ? "compressed" : "original";
            a.bytes = compressed ? intField(f, "compressed_size_bytes", 0, config.maxUploadBytes, 0) : original;
            total += a.bytes;
            announced.push_back(std::move(a));
        }
        const std::string hash = passwordGate.pass([&] { return hashPassword(password, hashing()); });
        const std::string galleryId = newId("g_"), slug = makeSlug(title);
        const int64_t expires = nowSeconds() + config.uploadUrlSeconds;
        std::vector<std::string> fileIds;
        for (size_t i = 0; i < announced.size(); ++i) fileIds.push_back(newId("f_"));
        db->write([&](Connection& c) {
            // One photographer's requests are checked against the quota one at a time.
            const Rows owner =
                c.query(R"(SELECT quota_bytes FROM photographers WHERE id = $1)" + db->forUpdate(), {p.id});
            const int64_t quota = owner.at(0).integer(0), used = usedBytes(c, p.id);
            if (used + total > quota)
                throw ApiError{402, "Not enough storage left: this delivery needs " + std::to_string(total) +
                                        " bytes and " + std::to_string(std::max<int64_t>(0, quota - used)) +
                                        " remain"};
            c.query(R"(INSERT INTO galleries (id, photographer_id, slug, title, password_hash, status, allow_download,
                    face_search, uploads_until, created_at) VALUES ($1, $2, $3, $4, $5, 'uploading', $6, $7, $8, $9))",
                    {galleryId, p.id, slug, title, hash, int64_t(allowDownload), int64_t(faceSearch), expires,
                     nowMicros()});
            c.query(R"(UPDATE photographers SET lifetime_galleries = lifetime_galleries + 1 WHERE id = $1)", {p.id});
            for (size_t i = 0; i < announced.size(); ++i)
                c.query(R"(INSERT INTO files (id, gallery_id, photographer_id, position, filename, kind, storage_key,
                        declared_bytes, state, created_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, 'pending', $9))",
                        {fileIds[i], galleryId, p.id, int64_t(i), announced[i].filename, announced[i].kind,
                         BlobStore::keyFor(galleryId, fileIds[i], announced[i].kind), announced[i].bytes,
                         nowSeconds()});
        });
        json uploads = json::array();
        for (size_t i = 0; i < announced.size(); ++i) {
            const Announced& a = announced[i];
            const std::string url = origin + "/storage/upload/" + galleryId + "/" + fileIds[i] + "/" + a.kind +
                                    "?size=" + std::to_string(a.bytes) + "&expires=" + std::to_string(expires) +
                                    "&sig=" + uploadSignature(galleryId, fileIds[i], a.kind, a.bytes, expires);
            uploads.push_back({{"filename", a.filename},
                               {"original_r2_key", BlobStore::keyFor(galleryId, fileIds[i], "original")},
                               {"compressed_r2_key", BlobStore::keyFor(galleryId, fileIds[i], "compressed")},
                               {"original_upload_url", a.kind == "original" ? url : ""},
                               {"compressed_upload_url", a.kind == "compressed" ? url : ""}});
        }
        log.info("gallery " + galleryId + " (" + std::to_string(announced.size()) + " files, " +
                 std::to_string(total) + " bytes) requested by " + p.name);
        sendJson(response, 200, {{"gallery_id", galleryId}, {"gallery_slug", slug}, {"uploads", uploads}});
    }));

    // An upload without a body never reaches the streaming route.
    http.Put(R"(/storage/upload/([^/]+)/([^/]+)/([^/]+))", [](const Request&, Response& response) {
        sendJson(response, 400, {{"detail", "An upload needs the file's bytes"}});
    });

    http.Put(R"(/storage/upload/([^/]+)/([^/]+)/([^/]+))", [this](const Request& request, Response& response,
                                                                  const httplib::ContentReader& reader) {
        response.set_header("Connection", "close");  // whatever happens, no unread body stays on the connection
        guarded(log, [&](const Request&, Response&) {
            const std::string galleryId = request.matches[1], fileId = request.matches[2], kind = request.matches[3];
            const std::string key = BlobStore::keyFor(galleryId, fileId, kind);
            const std::string sizeText = request.get_param_value("size"),
                              expiresText = request.get_param_value("expires");
            const std::string signature = request.get_param_value("sig");
            if (key.empty() || sizeText.empty() || expiresText.empty() || sizeText.size() > 18 ||
                expiresText.size() > 18 || sizeText.find_first_not_of("0123456789") != std::string::npos ||
                expiresText.find_first_not_of("0123456789") != std::string::npos)
                throw ApiError{403, "This upload address is not valid"};
            const int64_t declared = std::stoll(sizeText), expires = std::stoll(expiresText);
            if (!constantTimeEqual(signature, uploadSignature(galleryId, fileId, kind, declared, expires)))
                throw ApiError{403, "This upload address is not valid"};
            if (expires <= nowSeconds()) throw ApiError{403, "This upload address has expired"};
            if (mediaType(request.get_header_value("Content-Type")) != "image/jpeg")
                throw ApiError{415, "Uploads must be image/jpeg"};
            const std::string lengthText = request.get_header_value("Content-Length");
            if (lengthText.empty()) throw ApiError{411, "Content-Length required"};
            const int64_t length = std::stoll(lengthText);  // checked to be digits before routing
            if (length > declared)
                throw ApiError{413, "The file is larger than the " + std::to_string(declared) +
                                        " bytes announced for it"};
            db->write([&](Connection& c) {
                const Rows rows = c.query(R"sql(
SELECT f.state, p.quota_bytes, p.id, p.revoked FROM files f
JOIN galleries g ON g.id = f.gallery_id JOIN photographers p ON p.id = f.photographer_id
WHERE f.id = $1 AND f.gallery_id = $2 AND f.kind = $3)sql" + db->forUpdate(),
                                          {fileId, galleryId, kind});
                if (rows.empty() || rows[0].integer(3) != 0) throw ApiError{404, "This upload is no longer expected"};
                if (rows[0].text(0) == "confirmed") throw ApiError{409, "This file was delivered already"};
                if (usedBytes(c, rows[0].text(2), fileId) + declared > rows[0].integer(1))
                    throw ApiError{402, "Storage quota exceeded"};
            });

            BlobStore::Upload upload(*blobs, key);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(config.uploadSeconds);
            std::string stopped;
            const bool read = reader([&](const char* data, size_t size) {
                if (upload.written() + int64_t(size) > length) {
                    stopped = "more bytes than Content-Length";
                    return false;
                }
                if (std::chrono::steady_clock::now() > deadline) {
                    stopped = "the upload took longer than " + std::to_string(config.uploadSeconds) + " s";
                    return false;
                }
                return upload.write(data, size);
            });
            if (!upload.problem().empty() && !upload.refusedData()) {
                log.error("storage: " + upload.problem());
                throw ApiError{507, "The file could not be stored"};
            }
            if (!read || upload.written() != length)
                throw ApiError{400, stopped.empty() ? "The upload ended before the whole file arrived" : stopped};
            BlobStore::Checked checked;
            if (!upload.finish(checked)) {
                if (upload.refusedData()) throw ApiError{415, upload.problem()};
                log.error("storage: " + upload.problem());
                throw ApiError{507, "The file could not be stored"};
            }
            const bool recorded = db->write([&](Connection& c) {
                c.query(R"(UPDATE files SET state = 'stored', stored_bytes = $1, width = $2, height = $3
                        WHERE id = $4 AND state <> 'confirmed')",
                        {checked.bytes, int64_t(checked.width), int64_t(checked.height), fileId});
                return c.changes() == 1;
            });
            if (!recorded) {
                // The gallery was deleted (or the file confirmed) meanwhile: nothing of this upload stays.
                const bool gone = db->read([&](Connection& c) {
                    return c.query(R"(SELECT 1 FROM files WHERE id = $1)", {fileId}).empty();
                });
                if (gone) removeGalleryFiles(galleryId);
                throw ApiError{409, "This upload is no longer expected"};
            }
            sendJson(response, 200, {{"ok", true}, {"bytes", checked.bytes}});
        })(request, response);
    });

    http.Post("/deliver/upload-complete", guarded(log, [this](const Request& request, Response& response) {
        const Photographer p = authenticate(request);
        const json body = jsonBody(request);
        const std::string galleryId = textField(body, "gallery_id", 64, true);
        const auto files = body.find("files");
        if (files == body.end() || !files->is_array()) throw ApiError{422, "files must be a list of objects"};
        if (files->size() > size_t(config.maxFilesPerGallery)) throw ApiError{422, "too many files"};
        struct Confirmed {
            std::string key;
            bool cover = false;
            int64_t width = 0, height = 0;
            std::vector<FaceCropIn> faces;
        };
        std::vector<Confirmed> confirmed;
        for (const json& f : *files) {
            if (!f.is_object()) throw ApiError{422, "files must be a list of objects"};
            Confirmed item;
            const std::string name = textField(f, "filename", size_t(config.maxTextBytes), false);
            item.key = textField(f, "compressed_r2_key", 256, false);
            if (item.key.empty()) item.key = textField(f, "original_r2_key", 256, false);
            item.cover = boolField(f, "is_cover", false);
            item.width = intField(f, "width", 0, 1'000'000, 0);
            item.height = intField(f, "height", 0, 1'000'000, 0);
            const auto faces = f.find("faces");
            if (faces != f.end() && !faces->is_null()) {
                if (!faces->is_array()) throw ApiError{422, "faces of " + name + " must be a list"};
                if (faces->size() > size_t(config.maxFacesPerFile))
                    throw ApiError{422, name + " has more than " + std::to_string(config.maxFacesPerFile) + " faces"};
                for (const json& face : *faces) {
                    if (!face.is_object()) throw ApiError{422, "faces of " + name + " must be objects"};
                    FaceCropIn crop;
                    crop.base64 = textField(face, "image_base64", size_t(config.maxFaceCropBytes) * 4 / 3 + 4, true);
                    const auto bytes = decodeBase64(crop.base64);
                    if (!bytes || bytes->size() < 3 || (*bytes)[0] != 0xFF || (*bytes)[1] != 0xD8)
                        throw ApiError{422, "a face crop of " + name + " is not a Base64 JPEG"};
                    crop.x = intField(face, "bbox_x", -1'000'000, 1'000'000, 0);
                    crop.y = intField(face, "bbox_y", -1'000'000, 1'000'000, 0);
                    crop.width = intField(face, "bbox_width", 0, 1'000'000, 0);
                    crop.height = intField(face, "bbox_height", 0, 1'000'000, 0);
                    item.faces.push_back(std::move(crop));
                }
            }
            confirmed.push_back(std::move(item));
        }
        int64_t queued = 0;
        db->write([&](Connection& c) {
            const Rows gallery = c.query(R"(SELECT face_search FROM galleries WHERE id = $1 AND photographer_id = $2)" +
                                             db->forUpdate(),
                                         {galleryId, p.id});
            if (gallery.empty()) throw ApiError{404, "Gallery not found"};
            const bool faceSearch = gallery[0].integer(0) != 0;
            for (const Confirmed& item : confirmed) {
                const Rows rows = c.query(R"(SELECT id, state, filename FROM files WHERE gallery_id = $1 AND
                                          storage_key = $2)",
                                          {galleryId, item.key});
                if (rows.empty() || rows[0].text(1) == "pending")
                    throw ApiError{422, "File " + (rows.empty() ? item.key : rows[0].text(2)) + " was not uploaded"};
                const std::string fileId = rows[0].text(0);
                c.query(R"(UPDATE files SET state = 'confirmed' WHERE id = $1)", {fileId});
                if (item.width > 0 && item.height > 0)
                    c.query(R"(UPDATE files SET width = $1, height = $2 WHERE id = $3)",
                            {item.width, item.height, fileId});
                if (item.cover)
                    c.query(R"(UPDATE galleries SET cover_file_id = $1 WHERE id = $2)", {fileId, galleryId});
                if (!faceSearch) continue;
                c.query(R"(DELETE FROM face_jobs WHERE file_id = $1)", {fileId});
                c.query(R"(DELETE FROM face_data WHERE file_id = $1)", {fileId});
                c.query(R"(UPDATE galleries SET face_version = face_version + 1 WHERE id = $1)", {galleryId});
                for (size_t i = 0; i < item.faces.size(); ++i) {
                    const FaceCropIn& f = item.faces[i];
                    c.query(R"(INSERT INTO face_jobs (id, gallery_id, file_id, face_index, crop_base64, bbox_x, bbox_y,
                            bbox_width, bbox_height, queued_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10))",
                            {newId("fj_"), galleryId, fileId, int64_t(i), f.base64, f.x, f.y, f.width, f.height,
                             nowSeconds()});
                    ++queued;
                }
            }
            c.query(R"(UPDATE galleries SET status = 'active' WHERE id = $1)", {galleryId});
        });
        if (queued > 0 && faces) faces->wake();
        wantRenditions();
        log.info("gallery " + galleryId + ": " + std::to_string(confirmed.size()) + " file(s) confirmed, " +
                 std::to_string(queued) + " face crop(s) queued");
        sendJson(response, 200, {{"ok", true}});
    }));
}

}  // namespace keepframe::gallery
