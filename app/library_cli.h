// The project library as keepframe-cull's commands find a stored project in it.
#pragma once

#include <QVariantMap>

#include <optional>

namespace keepframe {

class ProjectStore;

// Exit codes of a command on a stored project.
constexpr int kExitFailure = 1;     // the library or the project cannot be read or written
constexpr int kExitBadRequest = 2;  // no such project, or a bad option

// Opens the library and finds project `id` in it: its map as listProjects()
// gives it. Otherwise prints the reason on standard error and gives nothing,
// with `exitCode` set: kExitFailure when the library cannot be opened or read
// (a damaged library is never taken for one without the project),
// kExitBadRequest when it holds no such project.
std::optional<QVariantMap> findStoredProject(ProjectStore& store, int id, int& exitCode);

}  // namespace keepframe
