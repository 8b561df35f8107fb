#include "deliver_cli.h"

#include "account_token.h"
#include "delivery_manager.h"
#include "library_cli.h"
#include "project_store.h"
#include "selection_model.h"

#include <QCoreApplication>

#include <charconv>
#include <cstdio>

namespace keepframe {

namespace {

struct DeliverOptions {
    std::string project, title, password, service, token;
    bool faceSearch = false, allowDownload = true;
    int level = 100;
};

// A token given on the command line stands in for the Account page's.
class GivenToken : public AccountTokenProvider {
public:
    explicit GivenToken(QString token) : token_(std::move(token)) {}
    QString accessToken() const override { return token_; }

private:
    QString token_;
};

int badRequest(const std::string& problem) {
    std::fprintf(stderr, "keepframe-cull: %s\n", problem.c_str());
    return kExitBadRequest;
}

}  // namespace

int runDeliverCommand(const std::vector<std::string>& args, const std::string& modelsFolder) {
    DeliverOptions o;
    if (args.size() < 2) return badRequest("--deliver needs PROJECT_ID");
    o.project = args[1];
    bool haveTitle = false, havePassword = false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* into = a == "--title"      ? &o.title
                            : a == "--password" ? &o.password
                            : a == "--service"  ? &o.service
                            : a == "--token"    ? &o.token
                                                : nullptr;
        std::string level;
        if (a == "--level") into = &level;
        if (into) {
            if (i + 1 >= args.size()) return badRequest(a + " needs a value");
            *into = args[++i];
            haveTitle = haveTitle || a == "--title";
            havePassword = havePassword || a == "--password";
        } else if (a == "--face-search") {
            o.faceSearch = true;
        } else if (a == "--no-download") {
            o.allowDownload = false;
        } else {
            return badRequest("unknown delivery option " + a);
        }
        if (a == "--level") {
            const auto [end, ec] = std::from_chars(level.data(), level.data() + level.size(), o.level);
            if (ec != std::errc() || end != level.data() + level.size() || o.level < 10 || o.level > 100)
                return badRequest("--level takes a whole number from 10 to 100");
        }
    }
    if (!haveTitle || o.title.empty()) return badRequest("--deliver needs --title");
    if (!havePassword || o.password.empty()) return badRequest("--deliver needs --password");
    if (!o.service.empty()) {
        const QString problem = serviceUrlProblem(QString::fromStdString(o.service));
        if (!problem.isEmpty()) return badRequest(problem.toStdString());
    }

    ProjectStore store;
    SelectionModel model;
    if (const int failed = openProject(store, model, o.project)) return failed;
    const QVariantList images = model.deliverableImages();
    if (images.isEmpty()) {
        std::fprintf(stderr, "keepframe-cull: project %s has no kept frames to deliver\n", o.project.c_str());
        return kExitFailure;
    }

    DefaultTokenProvider settings;
    GivenToken given(QString::fromStdString(o.token));
    DeliveryManager manager;
    manager.setTokenProvider(o.token.empty() ? static_cast<AccountTokenProvider*>(&settings) : &given);
    if (!o.service.empty()) manager.setBaseUrl(QString::fromStdString(o.service));
    manager.setFaceModelPath(QString::fromStdString(modelsFolder + "/buffalo_l/det_10g.onnx"));
    std::printf("Delivering %d frame(s) of project %s to %s\n", int(images.size()), o.project.c_str(),
                manager.serviceUrl().toUtf8().constData());
    std::fflush(stdout);

    // Every frame that did not arrive, with the reason: all of them once the
    // uploads ran, only those whose upload failed when the run ended early.
    auto reportItems = [&manager](bool uploadsRan) {
        for (const DeliveryItem& item : manager.items()) {
            if (item.uploaded || (!uploadsRan && item.uploadFailure.isEmpty())) continue;
            const QString why = item.uploadFailure.isEmpty() ? QStringLiteral("it could not be prepared or sent")
                                                             : item.uploadFailure;
            std::fprintf(stderr, "keepframe-cull: %s was not delivered: %s\n", item.filename.toUtf8().constData(),
                         why.toUtf8().constData());
        }
    };
    int exitCode = kExitFailure;
    int lastDone = -1;
    QObject::connect(&manager, &DeliveryManager::phaseChanged, &manager, [&](const QString& phase) {
        std::printf("  %s…\n", phase.toUtf8().constData());
        lastDone = -1;
        std::fflush(stdout);
    });
    QObject::connect(&manager, &DeliveryManager::deliveryProgress, &manager, [&] {
        const int done = manager.doneCount(), total = manager.totalCount();
        if (done == lastDone || done == 0) return;
        lastDone = done;
        std::printf("  %s %d / %d\n", manager.currentPhase().toUtf8().constData(), done, total);
        std::fflush(stdout);
    }, Qt::QueuedConnection);
    QObject::connect(&manager, &DeliveryManager::actualSizeKnown, &manager, [](qlonglong bytes) {
        if (bytes > 0) std::printf("  upload size: %lld bytes\n", bytes);
    });
    QObject::connect(&manager, &DeliveryManager::deliveryFinished, &manager,
                     [&](const QString&, const QString& slug, int succeeded, int failed) {
                         std::printf("Delivered: %d uploaded, %d failed\n", succeeded, failed);
                         std::printf("Gallery: %s/gallery.html?g=%s\n", manager.serviceUrl().toUtf8().constData(),
                                     slug.toUtf8().constData());
                         reportItems(true);
                         exitCode = failed == 0 ? 0 : kExitFailure;
                         QCoreApplication::exit(exitCode);
                     });
    QObject::connect(&manager, &DeliveryManager::deliveryFailed, &manager, [&](const QString& reason) {
        reportItems(false);
        std::fprintf(stderr, "keepframe-cull: delivery failed: %s\n", reason.toUtf8().constData());
        exitCode = kExitFailure;
        QCoreApplication::exit(exitCode);
    });
    manager.startDelivery(QString::fromStdString(o.title), QString::fromStdString(o.password), o.level, images,
                          QString(), o.allowDownload, o.faceSearch);
    // A failure found before anything started has been reported already.
    if (!manager.isRunning()) return exitCode;
    QCoreApplication::exec();
    return exitCode;
}

}  // namespace keepframe
