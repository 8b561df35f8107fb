#include "library_cli.h"

#include "project_store.h"

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

}  // namespace keepframe
