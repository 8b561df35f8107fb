#include "reports.h"

#include "number_text.h"
#include "paths.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace keepframe {
namespace {

// The frame the cluster is represented by: the face-bearing frame with the
// sharpest eyes (earliest on a tie), else the first frame.
const ImageRecord* representative(const FrameList& frames) {
    const ImageRecord* rep = nullptr;
    for (const ImageRecord* f : frames)
        if (!f->faces.empty() && (!rep || f->eyeSharpness > rep->eyeSharpness)) rep = f;
    return rep ? rep : (frames.empty() ? nullptr : frames.front());
}

std::string joined(const std::string& a, const std::string& b) { return a + "/" + b; }

// Writes a report whole (writeFileBytes), with the platform's line ends.
bool writeReport(const std::string& path, const std::string& text) {
#ifdef _WIN32
    std::string bytes;
    for (const char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
#else
    const std::string& bytes = text;
#endif
    return writeFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace

void writeCategoryReport(const ClusterMap& clusters, Category category, const std::string& outputFolder,
                         const EngineLog& log) {
    const char* const name = categoryText(category);
    const std::string folder = joined(joined(outputFolder, "_clusters"), name);
    std::error_code ec;
    fs::create_directories(utf8ToPath(folder), ec);

    std::vector<std::pair<int32_t, const FrameList*>> order;
    size_t images = 0;
    for (const auto& [id, frames] : clusters) {
        order.emplace_back(id, &frames);
        images += frames.size();
    }
    std::stable_sort(order.begin(), order.end(), [](auto& a, auto& b) { return a.second->size() > b.second->size(); });

    try {
        std::ostringstream out;
        out << "CATEGORY: " << name << "\n" << std::string(50, '=') << "\n";
        out << "Images: " << images << "  Clusters: " << clusters.size() << "\n\n";
        for (const auto& [id, frames] : order) {
            out << "Cluster " << id << " (" << frames->size() << " images):\n";
            const ImageRecord* rep = representative(*frames);
            FrameList byName = *frames;
            std::stable_sort(byName.begin(), byName.end(), [](auto* a, auto* b) { return a->filename < b->filename; });
            for (const ImageRecord* f : byName) {
                out << "  " << f->filename << "  valid_faces=" << f->faceCount;
                if (f == rep) out << "  [REP]";
                out << "  ct=[" << f->captureTime << "]\n";
            }
            out << "\n";
        }
        if (!writeReport(joined(folder, "category_report.txt"), out.str()))
            log.warning("  WARNING: Cannot write category_report.txt for %s\n", name);
    } catch (const std::exception& e) {
        log.warning("  WARNING: category_report write failed: %s\n", e.what());
    }
    log.info("  %s: %d clusters (report only)\n", name, int(clusters.size()));
}

void copyFramesToFolder(const FrameList& frames, const std::string& outputFolder, const std::string& folderName,
                        const EngineLog& log) {
    for (const ImageRecord* f : frames) {
        const size_t slash = f->filename.rfind('/');
        const bool hasSub = slash != std::string::npos && slash > 0;
        const std::string name = slash == std::string::npos ? f->filename : f->filename.substr(slash + 1);
        const std::string folder = hasSub ? joined(joined(outputFolder, f->filename.substr(0, slash)), folderName)
                                          : joined(outputFolder, folderName);
        std::error_code ec;
        fs::create_directories(utf8ToPath(folder), ec);
        const std::string destination = joined(folder, name);
        // An earlier run's copy is replaced only by a complete one.
        std::vector<uint8_t> bytes;
        if (!readFileBytes(f->path, bytes) || !writeFileBytes(destination, bytes))
            log.warning("  WARNING: copy failed %s → %s\n", f->path.c_str(), destination.c_str());
    }
}

void writeSelectionReport(const FrameList& kept, const std::vector<PersonRecord>& persons,
                          const std::string& outputFolder, const EngineLog& log) {
    std::ostringstream out;
    CategoryCounts counts;
    for (const ImageRecord* f : kept) counts.add(f->category);

    char line[256];
    out << "KEEPFRAME ENGINE v1 — Coverage First\n" << std::string(65, '=') << "\n";
    out << "Total:" << kept.size() << " V:" << counts.venue << " P:" << counts.portrait << " G:" << counts.group
        << "\n\n";
    std::snprintf(line, sizeof line, "%-4s %-25s %-10s %-7s  %-28s %-6s\n", "Rk", "Filename", "Cat", "Score", "Reason",
                  "CSize");
    out << line << std::string(88, '-') << "\n";
    int rank = 0;
    for (const ImageRecord* f : kept) {
        std::snprintf(line, sizeof line, "%-4d %-25s %-10s %s  %-28s %6d\n", ++rank, f->filename.c_str(),
                      categoryText(f->category), paddedFixedText(f->finalScore, 7, 4).c_str(), f->reason.c_str(),
                      f->clusterSize);
        std::string row = line;
        if (row.empty() || row.back() != '\n') row += '\n';  // an over-long row is cut but keeps its line end
        out << row;
    }
    out << "\n\n" << std::string(65, '=') << "\nPERSON IDENTITY SUMMARY\n" << std::string(65, '=') << "\n\n";
    for (size_t i = 0; i < persons.size() && i < 20; ++i) {
        const PersonRecord& person = persons[i];
        int portraitSlots = 0, groupSlots = 0;
        for (const ImageRecord* f : kept) {
            if (f->personIndex != person.personId) continue;
            if (f->category == Category::Portrait) ++portraitSlots;
            else if (f->category == Category::Group) ++groupSlots;
        }
        std::snprintf(line, sizeof line,
                      "Person_%03d  total=%4d  portrait=%4d  group=%4d  p_imp=%s  p_slots=%d  g_slots=%d\n",
                      person.personId, person.totalCount, person.portraitCount, person.groupCount,
                      fixedText(person.portraitImportance, 2).c_str(), portraitSlots, groupSlots);
        out << line << "  Samples: ";
        for (size_t s = 0; s < person.samples.size(); ++s) out << (s ? ", " : "") << person.samples[s];
        out << "\n\n";
    }
    if (!writeReport(joined(outputFolder, "selection_report.txt"), out.str()))
        log.warning("  WARNING: Cannot write selection_report.txt in %s\n", outputFolder.c_str());
}

void writeSkippedReport(const std::vector<SkippedFile>& skipped, const std::vector<ImageRecord>& damaged,
                        const std::string& outputFolder, const EngineLog& log) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const auto& f : skipped) lines.emplace_back(f.filename, f.reason);
    for (const auto& f : damaged) lines.emplace_back(f.filename, "damaged (" + f.problem + "): kept, never picked");
    std::stable_sort(lines.begin(), lines.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& [name, reason] : lines) text += name + '\t' + reason + '\n';
    if (!writeReport(joined(outputFolder, "skipped.txt"), text))
        log.warning("  WARNING: Cannot write skipped.txt in %s\n", outputFolder.c_str());
}

}  // namespace keepframe
