// Enhancement jobs and edited outputs of the open project.
#pragma once

#include "background_job.h"
#include "selection_model.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

namespace keepframe {

class ReviewState;
struct EnhanceBuffers;

struct EnhanceJob {
    int imageId = -1;
    std::string source;       // UTF-8; empty when the stored name leaves the input folder
    std::string destination;  // UTF-8: edited folder + "/" + id + ".jpg"
    std::vector<cv::Rect> faces;
    std::vector<float> confidences;
    bool plus = false;
};

// Decodes the source, runs the colour pipeline of the job's level and writes
// the result with the enhanced-image settings: the destination is replaced
// only after a complete write. True when the destination holds the new file;
// otherwise nothing was changed. Never throws. The file, the frame and every
// image of the pipeline live in `buffers`, which a worker keeps from job to
// job so that their memory is taken once, not once a photograph.
bool runEnhanceJob(const EnhanceJob& job, EnhanceBuffers& buffers);

// max(1, round(0.3 x hardware threads)), halves rounded up, at most `jobs`;
// an unknown thread count (0) counts as 1.
int enhanceWorkerCount(unsigned hardwareThreads, int jobs);

// Colour-correction of the open project's images into its "edited" (Enhance)
// and "edited_plus" (Enhance Plus) folders, one at a time or as a batch in
// the background, and what the screens ask about the corrections: which exist,
// their URLs, copying them out, and the files a delivery uploads. The user
// interface thread builds a batch's jobs (faces read from the database)
// before it starts; its workers see only those jobs.
class EnhanceJobs : public QObject {
    Q_OBJECT
public:
    explicit EnhanceJobs(const ReviewState& state, QObject* parent = nullptr);

    // One image now, on the calling thread; true when its file was written
    // (and counted in the library's usage counter).
    bool enhanceImage(int imageId, const QString& filename, bool plus);
    // Starts a batch on enhanceWorkerCount() workers; false, with no counter
    // changed, while a batch runs, without an open project or input folder,
    // for an empty list or lists of different lengths, or when the edited
    // folder cannot be made.
    bool startBatch(const QVariantList& imageIds, const QVariantList& filenames, bool plus);
    // Jobs finished (written or not) and jobs in all of the running or last batch.
    int done() const { return job_->done(); }
    int total() const { return job_->total(); }
    bool isRunning() const { return job_->isWorking(); }
    // The running batch takes no further image; it ends as usual.
    void cancel() { job_->cancel(); }
    // Cancels a running batch and waits for it; its end (finished()) is
    // delivered before this returns.
    void stop();
    // stop() when a batch may be writing into the folder of this project.
    void stopInto(int projectId);
    // File names of the images of the current or last batch that produced no file.
    QStringList failures() const;

    bool hasEdited(int imageId, bool plus) const;
    // File URLs; empty where there is no such file.
    QString editedUrl(int imageId, bool plus) const;
    QString bestEditedUrl(int imageId) const;
    QString originalUrl(const QString& filename) const;
    QList<SelectionModel::EditedFiles> editedFiles(const QList<int>& imageIds) const;
    // Each kept image with the file a delivery uploads: its best correction,
    // else its source; images with neither are left out.
    QVariantList deliverableImages() const;

signals:
    // A batch has ended (completed, cancelled or stopped); its written files are counted by then.
    void finished();

private:
    // The open project's edited folder of one level; empty when there is none.
    QString editedFolder(bool plus) const;
    QString editedPath(int imageId, bool plus) const;
    // Counts the written files of the batch that ended, and tells.
    void batchEnded();

    const ReviewState& state_;
    BackgroundJob* job_;
    // Built on the user interface thread before a batch starts; read-only while it runs.
    std::vector<EnhanceJob> jobs_;
    QStringList names_;  // the file name of each job, for failure reports
    enum class Outcome : uint8_t { Pending, Written, Failed };
    std::unique_ptr<std::atomic<Outcome>[]> outcomes_;
    std::atomic<int> written_{0};
    int projectId_ = -1;  // the project whose folder the batch writes into
};

}  // namespace keepframe
