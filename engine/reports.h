// The plain-text account of a run, written only when outputs are switched on:
// category reports (also read back by the cluster browser, so their layout is
// a file format), copies of the kept frames, and the selection report. What
// cannot be written is a warning in `log`; the run goes on.
#pragma once

#include <string>
#include <vector>

#include "persons.h"

namespace keepframe {

// "_clusters/<category>/category_report.txt": the category's clusters, largest first.
void writeCategoryReport(const ClusterMap& clusters, Category category, const std::string& outputFolder,
                         const EngineLog& log);
void copyFramesToFolder(const FrameList& frames, const std::string& outputFolder, const std::string& folderName,
                        const EngineLog& log);
void writeSelectionReport(const FrameList& kept, const std::vector<PersonRecord>& persons,
                          const std::string& outputFolder, const EngineLog& log);
// "skipped.txt": one line per file left out of the analysis and per damaged
// frame, "name<TAB>reason", in name order; empty when every file was judged.
void writeSkippedReport(const std::vector<SkippedFile>& skipped, const std::vector<ImageRecord>& damaged,
                        const std::string& outputFolder, const EngineLog& log);

}  // namespace keepframe
