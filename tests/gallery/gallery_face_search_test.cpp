// "Find my photos" over HTTP: a guest's selfie, found and embedded by the
// service with the models the cull uses, against the face data of a
// delivery; and the matching of embeddings on its own.
#include "gallery_support.h"

#include "crypto.h"
#include "face_search.h"
#include "faces.h"
#include "painted_frames.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <set>
#include <thread>

using namespace keepframe::testing;

namespace {

// A photo of the painted faces as a camera would send it: a JPEG at four
// times the painted size, so that the test detector still finds each face.
std::string photoJpeg(const std::vector<FaceSpec>& faces) {
    const cv::Mat painted = analysisFrame(faces);
    cv::Mat full;
    cv::resize(painted, full, painted.size() * 4, 0, 0, cv::INTER_NEAREST);
    std::vector<uint8_t> out;
    cv::imencode(".jpg", full, out, {cv::IMWRITE_JPEG_QUALITY, 95});
    return std::string(out.begin(), out.end());
}

// The aligned 112 x 112 crop of the painted face, as the desktop client sends it with a delivery.
std::string faceCrop(const FaceSpec& face, bool inverted = false) {
    const cv::Mat painted = analysisFrame({face});
    const keepframe::OnnxModel detector = keepframe::loadDetector(testModelsDir() + "buffalo_l/det_10g.onnx", 640);
    const auto found = keepframe::detectFaces(detector, painted, 0.5f);
    EXPECT_EQ(found.size(), 1u);
    if (found.empty()) return {};
    keepframe::Landmarks landmarks;
    std::copy(found[0].begin() + 5, found[0].end(), landmarks.begin());
    cv::Mat crop = keepframe::alignFace(painted, landmarks);
    if (inverted) crop = cv::Scalar::all(255) - crop;
    std::vector<uint8_t> out;
    cv::imencode(".jpg", crop, out, {cv::IMWRITE_JPEG_QUALITY, 95});
    return std::string(out.begin(), out.end());
}

}  // namespace

TEST(GalleryFaceMatching, EachFileOnceAtItsBestFaceBestFirst) {
    const std::vector<float> probe{1, 0, 0};
    const std::vector<keepframe::gallery::StoredFace> faces = {
        {"f_a", {0.6f, 0.8f, 0}}, {"f_b", {0.9f, 0.1f, 0}}, {"f_a", {0.95f, 0, 0.3f}},
        {"f_c", {0.4f, 0.9f, 0}}, {"f_d", {1, 0}},  // a stored face of another length is never compared
    };
    const auto matches = keepframe::gallery::matchFaces(probe, faces, 0.5f);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].fileId, "f_a");
    EXPECT_FLOAT_EQ(matches[0].score, 0.95f);
    EXPECT_EQ(matches[1].fileId, "f_b");
    EXPECT_TRUE(keepframe::gallery::matchFaces(probe, faces, 0.99f).empty());
}

TEST_P(GalleryTest, FaceSearchFindsThePhotosOfTheSelfiesFace) {
    service.setModels(KEEPFRAME_TEST_MODELS_DIR);
    start();
    const std::string token = service.token().toStdString();
    const FaceSpec guest{15, 20};
    const std::string hers = faceCrop(guest), unlike = faceCrop(guest, true);
    // IMG_0 shows her and someone else, IMG_1 only the other one, IMG_2 nobody.
    const Delivered d = deliverFaces(token, {{unlike, hers}, {unlike}, {}});
    for (int i = 0; i < 200 && count(R"(SELECT COUNT(*) FROM face_data)") < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(count(R"(SELECT COUNT(*) FROM face_data)"), 3);

    const std::string path = "/gallery/" + d.slug + "/face-search";
    auto search = [&](const std::string& body, const httplib::Headers& headers,
                      const std::string& type = "image/jpeg") {
        const auto r = client().Post(path.c_str(), headers, body, type.c_str());
        return r ? Reply{r->status, r->body, r->headers} : Reply{};
    };
    const std::string selfie = photoJpeg({guest});
    EXPECT_EQ(search(selfie, {}).status, 401);
    EXPECT_EQ(search(selfie, {{"X-Gallery-Password", "wrong"}}).status, 401);

    // With the password, or with the session of the gallery page: her photo, and only hers.
    for (const httplib::Headers& opened : {httplib::Headers{{"X-Gallery-Password", "rose-garden"}},
                                           httplib::Headers{{"Cookie", login(d.slug, "rose-garden")}}}) {
        const Reply found = search(selfie, opened);
        ASSERT_EQ(found.status, 200) << found.body;
        const json matches = found.object()["matches"];
        ASSERT_EQ(matches.size(), 1u) << found.body;
        EXPECT_EQ(matches[0]["file_id"], d.fileIds[0]);
        EXPECT_EQ(matches[0]["filename"], "IMG_0.jpg");
        EXPECT_GT(matches[0]["score"].get<double>(), 0.9);
        EXPECT_EQ(found.header("Cache-Control"), "no-store");
    }

    // Faces that arrive later are searched too: IMG_1 delivered again, now with her.
    const json again = {{"gallery_id", d.galleryId},
                        {"files",
                         {{{"filename", "IMG_1.jpg"},
                           {"compressed_r2_key", d.uploads[1]["compressed_r2_key"]},
                           {"faces",
                            {{{"image_base64", keepframe::gallery::encodeBase64(
                                                   reinterpret_cast<const uint8_t*>(hers.data()), hers.size())},
                              {"bbox_x", 1},
                              {"bbox_y", 2},
                              {"bbox_width", 3},
                              {"bbox_height", 4}}}}}}}};
    ASSERT_EQ(send("POST", "/deliver/upload-complete", token, again).status, 200);
    for (int i = 0; i < 200 && count(R"(SELECT COUNT(*) FROM face_data WHERE file_id = $1)", {d.fileIds[1]}) < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const httplib::Headers opened{{"Cookie", login(d.slug, "rose-garden")}};
    const Reply both = search(selfie, opened);
    ASSERT_EQ(both.status, 200);
    const json found = both.object()["matches"];
    ASSERT_EQ(found.size(), 2u) << both.body;
    EXPECT_EQ(std::set<std::string>({found[0]["file_id"], found[1]["file_id"]}),
              std::set<std::string>({d.fileIds[0], d.fileIds[1]}));

    // Selfies it cannot use are named for the guest.
    const Reply none = search(photoJpeg({}), opened);
    EXPECT_EQ(none.status, 422);
    EXPECT_EQ(none.object()["detail"], "No face was found in the selfie. Take one of your face, in good light.");
    const Reply two = search(photoJpeg({guest, FaceSpec{15, 8}}), opened);
    EXPECT_EQ(two.status, 422);
    EXPECT_EQ(two.object()["detail"], "The selfie shows more than one face. Take one of yourself alone.");
    EXPECT_EQ(search(selfie, opened, "image/png").status, 415);
    EXPECT_EQ(search(std::string(4000, 'x'), opened).status, 415);
    EXPECT_EQ(search(selfie.substr(0, 600), opened).status, 422);  // cut short: no face to find

    // Switched off, face search is gone with the face data.
    ASSERT_EQ(send("POST", "/deliver/galleries/" + d.galleryId + "/settings", token, {{"face_search_enabled", false}})
                  .status,
              200);
    EXPECT_EQ(search(selfie, opened).status, 404);
}
