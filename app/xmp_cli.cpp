#include "xmp_cli.h"

#include "cull_options.h"
#include "handover.h"
#include "library_cli.h"
#include "project_store.h"

#include <cstdio>

namespace keepframe {

namespace {

void fail(const QString& message) { std::fprintf(stderr, "keepframe-cull: %s\n", message.toUtf8().constData()); }

// Writes or takes back the sidecars of a stored project and prints what happened.
int handOver(int projectId, const XmpRequest& request, bool remove) {
    ProjectStore store;
    int exitCode = 0;
    const std::optional<QVariantMap> project = findStoredProject(store, projectId, exitCode);
    if (!project) return exitCode;
    const QString inputFolder = (*project)["inputFolder"].toString();
    XmpOptions options;
    options.style = request.append ? SidecarStyle::Append : SidecarStyle::Replace;
    options.keptRating = request.rating;
    options.keptLabel = QString::fromStdString(request.label);
    options.remove = remove;
    const SidecarReport r = writeProjectXmpSidecars(store, projectId, inputFolder, options);
    if (!r.error.isEmpty()) {
        fail(r.error);
        return 1;
    }
    std::printf("XMP sidecars (%s) for project %d: %d written, %d merged, %d unchanged, %d removed, %d shared, "
                "%d skipped, %d failed\n",
                request.append ? "IMG_0001.CR2.xmp" : "IMG_0001.xmp", projectId, r.written, r.merged, r.unchanged,
                r.removed, r.shared, r.skipped, r.failed);
    for (const SidecarNote& n : r.notes) {
        const QString sidecar = n.sidecar.isEmpty() ? QString() : " (" + n.sidecar + ")";
        std::printf("  %-9s %s%s: %s\n", outcomeName(n.outcome).toUtf8().constData(), n.file.toUtf8().constData(),
                    sidecar.toUtf8().constData(), n.reason.toUtf8().constData());
    }
    if (r.failed > 0) {
        fail(QString("%1 sidecars could not be written; they were left as they were").arg(r.failed));
        return 1;
    }
    return 0;
}

}  // namespace

bool isXmpCommand(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    if (args[0] == "--xmp-remove") return true;
    return args[0] == "--xmp" && args.size() > 1 && !args[1].empty() &&
           args[1].find_first_not_of("0123456789") == std::string::npos;
}

int runXmpCommand(const std::vector<std::string>& args) {
    const bool remove = args[0] == "--xmp-remove";
    bool isNumber = false;
    const int projectId = args.size() > 1 ? QString::fromStdString(args[1]).toInt(&isNumber) : -1;
    if (!isNumber) {
        std::fprintf(stderr, "keepframe-cull: %s needs a PROJECT_ID (see keepframe-cull --list)\n%s\n",
                     args[0].c_str(), kCullUsage);
        return 2;
    }
    XmpRequest request;
    std::string error;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string option = args[i];
        const int taken = parseXmpOption(args, i, request, error);
        if (taken == 0) error = "unknown option " + option;
        else if (taken > 0 && remove && option != "--xmp-style") error = option + " does not go with --xmp-remove";
        if (!error.empty()) {
            std::fprintf(stderr, "keepframe-cull: %s\n%s\n", error.c_str(), kCullUsage);
            return 2;
        }
    }
    return handOver(projectId, request, remove);
}

int writeXmpAfterCull(int projectId, const XmpRequest& request) {
    if (projectId < 0) {
        fail("no project was saved, so no XMP sidecars were written");
        return 1;
    }
    return handOver(projectId, request, false);
}

}  // namespace keepframe
