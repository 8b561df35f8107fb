// The project library as keepframe-cull's commands find a stored project in it.
#pragma once

#include <QVariantMap>

#include <optional>
#include <string>

namespace keepframe {

class ProjectStore;
class SelectionModel;

// Exit codes of a command on a stored project.
constexpr int kExitFailure = 1;     // the library or the project cannot be read or written
constexpr int kExitBadRequest = 2;  // no such project, or a bad option

// Opens the library and finds project `id` in it: its map as listProjects()
// gives it. Otherwise prints the reason on standard error and gives nothing,
// with `exitCode` set: kExitFailure when the library cannot be opened or read
// (a damaged library is never taken for one without the project),
// kExitBadRequest when it holds no such project.
std::optional<QVariantMap> findStoredProject(ProjectStore& store, int id, int& exitCode);

// Opens stored project `idText` into a selection model, as the review screen
// does; 0, or the exit code after the reason was printed. A project that
// cannot be read whole is never taken for an empty one.
int openProject(ProjectStore& store, SelectionModel& model, const std::string& idText);

}  // namespace keepframe
