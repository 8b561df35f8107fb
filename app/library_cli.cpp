#include "library_cli.h"

#include "project_store.h"
#include "selection_model.h"

#include <cstdio>

namespace keepframe {

std::optional<QVariantMap> findStoredProject(ProjectStore& store, int id, int& exitCode) {
    exitCode = kExitFailure;
    if (!store.openRegistry()) {
        std::fprintf(stderr, "keepframe-cull: %s\n", store.lastError().toUtf8().constData());
        return std::nullopt;
    }
    const QVariantList projects = store.listProjects();
    if (!store.lastError().isEmpty()) {
        std::fprintf(stderr, "keepframe-cull: the project library cannot be read: %s\n",
                     store.lastError().toUtf8().constData());
        return std::nullopt;
    }
    for (const QVariant& v : projects)
        if (v.toMap()["id"].toInt() == id) return v.toMap();
    exitCode = kExitBadRequest;
    std::fprintf(stderr, "keepframe-cull: no project %d in the library (see keepframe-cull --list)\n", id);
    return std::nullopt;
}

// Opens a stored project into a selection model, as the review screen does;
// 0, or the exit code after the reason was printed. A project that cannot be
// read whole is never taken for an empty one.
int openProject(ProjectStore& store, SelectionModel& model, const std::string& idText) {
    bool isNumber = false;
    const int id = QString::fromStdString(idText).toInt(&isNumber);
    if (!isNumber) {
        std::fprintf(stderr, "keepframe-cull: \"%s\" is not a project id (see keepframe-cull --list)\n",
                     idText.c_str());
        return kExitBadRequest;
    }
    int exitCode = 0;
    const std::optional<QVariantMap> project = findStoredProject(store, id, exitCode);
    if (!project) return exitCode;
    model.setStore(&store);
    if (!model.loadFromProject(id, (*project)["inputFolder"].toString())) {
        std::fprintf(stderr, "keepframe-cull: project %d cannot be read: %s\n", id,
                     model.storeError().toUtf8().constData());
        return kExitFailure;
    }
    return 0;
}

}  // namespace keepframe
