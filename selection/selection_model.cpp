#include "selection_model.h"

#include "decision_history.h"
#include "enhance_jobs.h"
#include "export_jobs.h"
#include "final_export.h"
#include "project_files.h"
#include "project_store.h"
#include "review_decisions.h"
#include "review_state.h"
#include "review_views.h"
#include "xmp_jobs.h"

#include <QPointer>

namespace keepframe {

SelectionModel::SelectionModel(QObject* parent)
    : QObject(parent),
      state_(std::make_unique<ReviewState>()),
      views_(std::make_unique<ReviewViews>(*state_)),
      export_(std::make_unique<FinalExport>(*state_)),
      files_(std::make_unique<ProjectFiles>(*state_)),
      history_(std::make_unique<DecisionHistory>()),
      decisions_(std::make_unique<ReviewDecisions>(*state_, *history_)),
      enhance_(new EnhanceJobs(*state_, this)),
      xmp_(new XmpJobs(*state_, this)),
      exports_(new ExportJobs(this)) {
    connect(enhance_, &EnhanceJobs::finished, this, &SelectionModel::enhanceFinished);
    connect(xmp_, &XmpJobs::runningChanged, this, &SelectionModel::xmpRunningChanged);
    connect(xmp_, &XmpJobs::finished, this, &SelectionModel::xmpSidecarsFinished);
    connect(exports_, &ExportJobs::runningChanged, this, &SelectionModel::exportRunningChanged);
    connect(exports_, &ExportJobs::finished, this, &SelectionModel::exportFinished);
}

SelectionModel::~SelectionModel() {
    blockSignals(true);  // nobody hears the end of work stopped by the model's own end
    xmp_->stop();
    exports_->stop();
    enhance_->stop();
}

void SelectionModel::setStore(ProjectStore* store) { state_->setStore(store); }

void SelectionModel::tell(bool changed) {
    if (changed) emit this->changed();
}

void SelectionModel::decided(bool changed) {
    tell(changed);
    emit historyChanged();
}

void SelectionModel::forgetSession() {
    history_->clear();
    views_->filter().clear();
    emit historyChanged();
    emit filterChanged();
}

// ---------------------------------------------------------------- statuses and counts

int SelectionModel::primaryCount() const { return state_->countStatus(Primary); }

int SelectionModel::reviewCount() const { return state_->countStatus(Review); }

int SelectionModel::removedCount() const { return state_->countStatus(Removed); }

int SelectionModel::addedCount() const { return state_->countStatus(Added); }

int SelectionModel::keptCount() const { return int(state_->images().size()) - removedCount(); }

bool SelectionModel::hasData() const { return !state_->images().isEmpty(); }

QString SelectionModel::inputFolder() const { return state_->inputFolder(); }

const QList<SelectionModel::Image>& SelectionModel::images() const { return state_->images(); }

int SelectionModel::projectId() const { return state_->projectId(); }

bool SelectionModel::contains(const QString& filename) const { return state_->indexOf(filename) >= 0; }

bool SelectionModel::loadFromProject(int projectId, const QString& inputFolder) {
    if (!state_->store()) return false;
    const bool readable = state_->loadFromProject(projectId, inputFolder);
    forgetSession();
    emit changed();
    return readable;
}

void SelectionModel::load(const QVariantList& items, const QString& inputFolder, const QString& outputBase) {
    state_->load(items, inputFolder, outputBase);
    forgetSession();
    emit changed();
}

void SelectionModel::setSummary(const QVariantMap& summary) { state_->setSummary(summary); }

void SelectionModel::clear() {
    state_->clear();
    forgetSession();
    emit changed();
}

void SelectionModel::removeImage(const QString& filename) { decided(decisions_->remove({filename})); }

void SelectionModel::restoreImage(const QString& filename) { decided(decisions_->restore({filename})); }

void SelectionModel::removeMany(const QStringList& files) { decided(decisions_->remove(files)); }

void SelectionModel::restoreMany(const QStringList& files) { decided(decisions_->restore(files)); }

void SelectionModel::addImage(const QString& filename, const QString& category, int clusterNumber) {
    decided(decisions_->add(filename, category, clusterNumber));
}

void SelectionModel::addMany(const QVariantList& items) { decided(decisions_->addMany(items)); }

void SelectionModel::setImageSelected(int imageId, bool selected) {
    decided(decisions_->setSelected(imageId, selected));
}

void SelectionModel::resetAll() {
    state_->resetAll();
    history_->clear();  // the decisions it took back are not undone one by one
    emit historyChanged();
    emit changed();
}

// ---------------------------------------------------------------- stars, labels and the history

bool SelectionModel::pressDigit(const QStringList& files, int digit) {
    const bool changed = decisions_->pressDigit(files, digit);
    if (changed) emit marksChanged();
    emit historyChanged();
    return changed;
}

QString SelectionModel::lastMarksError() const { return state_->ratings().lastError(); }

QVariantMap SelectionModel::marksOf(const QString& filename) const { return state_->ratings().marksMap(filename); }

QVariantList SelectionModel::currentFrames(const QVariantList& frames) const {
    return views_->currentFrames(frames);
}

bool SelectionModel::undo() {
    const bool done = history_->undo();
    decided(done);
    return done;
}

bool SelectionModel::redo() {
    const bool done = history_->redo();
    decided(done);
    return done;
}

bool SelectionModel::canUndo() const { return history_->canUndo(); }

bool SelectionModel::canRedo() const { return history_->canRedo(); }

QString SelectionModel::undoLabel() const { return history_->undoLabel(); }

QString SelectionModel::redoLabel() const { return history_->redoLabel(); }

DecisionHistory& SelectionModel::history() { return *history_; }

namespace {

// An undo or redo handed to the object that made the change.
DecisionHistory::Action replayOn(QPointer<QObject> editor, const char* method, const QVariantMap& record) {
    return [editor, method, record] {
        bool taken = false;
        if (!editor) return false;
        QMetaObject::invokeMethod(editor, method, Qt::DirectConnection, Q_RETURN_ARG(bool, taken),
                                  Q_ARG(QVariantMap, record));
        return taken;
    };
}

}  // namespace

void SelectionModel::recordEdit(const QString& label, QObject* editor, const QVariantMap& record) {
    if (!editor) return;
    history_->push(DecisionHistory::Entry{label, replayOn(editor, "undo", record), replayOn(editor, "redo", record)});
    emit historyChanged();
}

// ---------------------------------------------------------------- the grid's filter

QVariantMap SelectionModel::filter() const { return views_->filter().toMap(); }

bool SelectionModel::filterActive() const { return views_->filter().active(); }

QString SelectionModel::filterText() const { return views_->filter().describe(); }

void SelectionModel::setFilter(const QVariantMap& filter) {
    if (views_->filter().setFromMap(filter)) emit filterChanged();
}

void SelectionModel::clearFilter() {
    if (!views_->filter().active()) return;
    views_->filter().clear();
    emit filterChanged();
}

void SelectionModel::setPersonCriterion(int personId, const QString& name, const QSet<int>& imageIds) {
    views_->filter().setPerson(personId, name, imageIds);
    emit filterChanged();
}

void SelectionModel::setPersonFilter(int personId, const QString& name, const QVariantList& imageIds) {
    QSet<int> ids;
    for (const QVariant& v : imageIds) ids.insert(v.toInt());
    setPersonCriterion(personId, name, ids);
}

// ---------------------------------------------------------------- project library

QVariantList SelectionModel::listProjects() {
    return state_->store() ? state_->store()->listProjects() : QVariantList{};
}

QString SelectionModel::storeError() const { return state_->store() ? state_->store()->lastError() : QString(); }

bool SelectionModel::renameProject(int projectId, const QString& newName) {
    ProjectStore* store = state_->store();
    if (!store) return false;
    enhance_->stopInto(projectId);  // the batch writes into the folder that moves
    if (!store->renameProject(projectId, newName)) return false;
    // The project's folder moved with its name and the store let go of its
    // database: the open project is read again from its new place, so that
    // its thumbnails show and later changes are written.
    if (projectId == state_->projectId()) loadFromProject(projectId, state_->inputFolder());
    return true;
}

bool SelectionModel::deleteProject(int projectId) {
    ProjectStore* store = state_->store();
    if (!store) return false;
    enhance_->stopInto(projectId);
    if (!store->deleteProject(projectId)) return false;
    if (projectId == state_->projectId()) {
        state_->closeProject();
        forgetSession();
        emit changed();
    }
    return true;
}

void SelectionModel::touchOpenProject() {
    if (state_->projectOpen()) state_->store()->touchProject(state_->projectId());
}

QVariantList SelectionModel::facesForImage(int imageId) {
    return state_->store() ? state_->store()->displayFacesForImage(imageId) : QVariantList{};
}

QVariantList SelectionModel::detectionsForImage(int imageId) {
    return state_->store() ? state_->store()->detectionsForImage(imageId) : QVariantList{};
}

QVariantMap SelectionModel::usageCounters() const {
    ProjectStore* store = state_->store();
    const bool open = store && store->registryOpen();
    return QVariantMap{{"lifetimeProjects", open ? store->lifetimeProjects() : qint64(0)},
                       {"lifetimeCulledImages", open ? store->lifetimeCulledImages() : qint64(0)},
                       {"lifetimeEnhancedImages", open ? store->lifetimeEnhancedImages() : qint64(0)}};
}

// ---------------------------------------------------------------- views

QVariantList SelectionModel::flatView() { return views_->flatView(); }

QVariantList SelectionModel::flatViewByCategory() { return views_->flatViewByCategory(); }

QVariantList SelectionModel::keptImages() const { return views_->keptImages(); }

QVariantList SelectionModel::removedView() const { return views_->removedView(); }

QVariantList SelectionModel::categoryView() const { return views_->categoryView(); }

QVariantList SelectionModel::groupedView() const { return views_->groupedView(); }

QVariantList SelectionModel::momentFrames(int imageId) { return views_->momentFrames(imageId); }

QVariantList SelectionModel::clustersFromDb(const QString& category, bool onlyOrphans) {
    return views_->clustersFromDb(category, onlyOrphans);
}

QVariantList SelectionModel::notSelectedImages() { return views_->notSelectedImages(); }

QVariantList SelectionModel::unselectedClusterImages() { return views_->unselectedClusterImages(); }

int SelectionModel::unselectedClusterCount() { return views_->unselectedClusterCount(); }

QVariantMap SelectionModel::unselectedExportPreview() { return views_->unselectedExportPreview(); }

QVariantList SelectionModel::loadClusters(const QString& category) { return views_->loadClusters(category); }

// ---------------------------------------------------------------- export and project files

QVariantMap SelectionModel::exportFinal(const QString& destBaseIn, bool byCategory, bool includeUnselected,
                                        bool embedXmp) {
    return export_->exportFinal(destBaseIn, byCategory, includeUnselected, embedXmp);
}

bool SelectionModel::saveProject(const QString& pathIn) { return files_->saveProject(pathIn); }

QVariantMap SelectionModel::openProjectFile(const QString& pathIn) { return files_->openProjectFile(pathIn); }

int SelectionModel::applyPendingProject(const QString& inputFolderOverride) {
    const int missing = files_->applyPendingProject(inputFolderOverride);
    if (missing >= 0) {
        forgetSession();
        emit changed();
    }
    return missing;
}

// ---------------------------------------------------------------- enhancement

QVariantList SelectionModel::deliverableImages() { return enhance_->deliverableImages(); }

bool SelectionModel::enhanceImage(int imageId, const QString& filename, bool plus) {
    return enhance_->enhanceImage(imageId, filename, plus);
}

int SelectionModel::enhanceProgressDone() const { return enhance_->done(); }

int SelectionModel::enhanceProgressTotal() const { return enhance_->total(); }

bool SelectionModel::enhanceIsRunning() const { return enhance_->isRunning(); }

void SelectionModel::cancelEnhance() { enhance_->cancel(); }

bool SelectionModel::enhanceImagesParallel(const QVariantList& imageIds, const QVariantList& filenames, bool plus) {
    return enhance_->startBatch(imageIds, filenames, plus);
}

QStringList SelectionModel::enhanceFailures() const { return enhance_->failures(); }

bool SelectionModel::hasEdited(int imageId, bool plus) const { return enhance_->hasEdited(imageId, plus); }

QString SelectionModel::editedUrl(int imageId, bool plus) const { return enhance_->editedUrl(imageId, plus); }

QString SelectionModel::bestEditedUrl(int imageId) const { return enhance_->bestEditedUrl(imageId); }

QString SelectionModel::originalUrl(const QString& filename) const { return enhance_->originalUrl(filename); }

QVariantList SelectionModel::exportEdited(const QString& destBaseIn) {
    QList<int> ids;
    for (const Image& i : state_->images()) ids << i.id;
    const QVariantMap r = runExportPlan(export_->editedPlan(destBaseIn, editedFiles(ids)));
    return QVariantList{r["enhanced"], r["plus"]};
}

bool SelectionModel::startExportFinal(const QString& destBaseIn, const QVariantMap& options) {
    if (exports_->isRunning()) return false;
    return exports_->start(export_->plan(destBaseIn, finalExportOptionsFrom(options)));
}

QVariantMap SelectionModel::exportFinalWith(const QString& destBaseIn, const QVariantMap& options) {
    return runExportPlan(export_->plan(destBaseIn, finalExportOptionsFrom(options)));
}

bool SelectionModel::startExportEdited(const QString& destBaseIn) {
    if (exports_->isRunning()) return false;
    QList<int> ids;
    for (const Image& i : state_->images()) ids << i.id;
    return exports_->start(export_->editedPlan(destBaseIn, editedFiles(ids)));
}

void SelectionModel::cancelExport() { exports_->cancel(); }

int SelectionModel::exportProgressDone() const { return exports_->done(); }

int SelectionModel::exportProgressTotal() const { return exports_->total(); }

bool SelectionModel::exportRunning() const { return exports_->isRunning(); }

QVariantMap SelectionModel::liveCounts() const {
    int removed = 0, added = 0;
    for (const Image& i : state_->images()) {
        const bool keptByCull = i.original == Primary || i.original == Review;
        if (keptByCull && i.status == Removed) ++removed;
        if (!keptByCull && i.status != Removed) ++added;
    }
    return QVariantMap{{"kept", keptCount()}, {"removed", removed}, {"added", added}};
}

QList<SelectionModel::EditedFiles> SelectionModel::editedFiles(const QList<int>& imageIds) const {
    return enhance_->editedFiles(imageIds);
}

void SelectionModel::stopEnhance() { enhance_->stop(); }

// ---------------------------------------------------------------- XMP sidecars

QVariantMap SelectionModel::writeXmpSidecars(const QVariantMap& options) { return xmp_->write(options); }

bool SelectionModel::startXmpSidecars(const QVariantMap& options) { return xmp_->start(options); }

int SelectionModel::xmpProgressDone() const { return xmp_->done(); }

int SelectionModel::xmpProgressTotal() const { return xmp_->total(); }

bool SelectionModel::xmpRunning() const { return xmp_->isRunning(); }

}  // namespace keepframe
