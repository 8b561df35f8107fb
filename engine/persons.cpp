#include "persons.h"

#include <algorithm>
#include <cmath>

namespace keepframe {

int matchOrCreatePerson(const Embedding& e, std::vector<PersonRecord>& persons, float threshold) {
    int best = -1;
    float bestSim = -1.0f;
    for (size_t p = 0; p < persons.size(); ++p) {
        const float s = embeddingSimilarity(e, persons[p].anchor);
        if (s > bestSim) {
            bestSim = s;
            best = int(p);
        }
    }
    if (best >= 0 && bestSim >= threshold) {
        persons[size_t(best)].embeddings.push_back(e);
        return best;
    }
    PersonRecord p;
    p.personId = int32_t(persons.size());
    p.anchor = e;
    p.embeddings = {e};
    persons.push_back(std::move(p));
    return int(persons.size()) - 1;
}

Embedding averageEmbedding(const std::vector<Embedding>& embeddings) {
    if (embeddings.empty()) return {};
    std::vector<double> sum(embeddings.front().size(), 0.0);
    for (const auto& e : embeddings)
        for (size_t i = 0; i < sum.size() && i < e.size(); ++i) sum[i] += e[i];
    double norm = 0.0;
    for (double& v : sum) {
        v /= double(embeddings.size());
        norm += v * v;
    }
    norm = std::sqrt(norm);
    Embedding mean(sum.size());
    for (size_t i = 0; i < sum.size(); ++i) mean[i] = float(norm > 1e-6 ? sum[i] / norm : sum[i]);
    return mean;
}

std::vector<PersonRecord> buildPersons(const ClusterMap& portraits, const ClusterMap& groups, float threshold,
                                       const EngineLog& log) {
    std::vector<PersonRecord> persons;
    int scanned = 0;
    auto visit = [&](const ClusterMap& clusters, bool portrait) {
        for (const auto& [id, frames] : clusters) {
            for (const ImageRecord* f : frames) {
                if (f->embeddings.empty()) {
                    ++scanned;
                    continue;
                }
                const size_t candidates = portrait ? 1 : f->embeddings.size();
                int main = -1;
                float mainSim = -1.0f;
                for (size_t c = 0; c < candidates; ++c) {
                    const int index = matchOrCreatePerson(f->embeddings[c], persons, threshold);
                    const float s = embeddingSimilarity(f->embeddings[c], persons[size_t(index)].anchor);
                    if (s > mainSim) {
                        mainSim = s;
                        main = index;
                    }
                }
                if (main >= 0) {
                    PersonRecord& p = persons[size_t(main)];
                    if (portrait) ++p.portraitCount;
                    else ++p.groupCount;
                    ++p.totalCount;
                    if (p.samples.size() < 5 &&
                        std::find(p.samples.begin(), p.samples.end(), f->filename) == p.samples.end())
                        p.samples.push_back(f->filename);
                }
                if (++scanned % 100 == 0)
                    log.info("  %d images scanned, %d persons...\n", scanned, int(persons.size()));
            }
        }
    };
    visit(portraits, true);
    visit(groups, false);

    std::stable_sort(persons.begin(), persons.end(), [](const PersonRecord& a, const PersonRecord& b) {
        if (a.portraitCount != b.portraitCount) return a.portraitCount > b.portraitCount;
        return a.totalCount > b.totalCount;
    });
    int updated = 0;
    for (size_t i = 0; i < persons.size(); ++i) {
        persons[i].personId = int32_t(i);
        if (persons[i].embeddings.size() > 1) {
            persons[i].anchor = averageEmbedding(persons[i].embeddings);
            ++updated;
        }
    }
    log.info("  Updated %d person anchors to average embedding\n", updated);
    int most = 1;
    for (const auto& p : persons) most = std::max(most, int(p.portraitCount));
    for (auto& p : persons) p.portraitImportance = float(p.portraitCount) / float(most);

    log.info("\n  %d unique persons\n", int(persons.size()));
    log.info("  Top 5: ");
    for (size_t i = 0; i < persons.size() && i < 5; ++i)
        log.info("P%d(p=%d,imp=%.2f)  ", persons[i].personId, persons[i].portraitCount,
                 persons[i].portraitImportance);
    log.info("\n");
    return persons;
}

std::pair<int32_t, float> matchPerson(const Embedding& e, const std::vector<PersonRecord>& persons, float threshold) {
    const PersonRecord* best = nullptr;
    float bestSim = -1.0f;
    for (const auto& p : persons) {
        const float s = embeddingSimilarity(e, p.anchor);
        if (s > bestSim) {
            bestSim = s;
            best = &p;
        }
    }
    if (best && bestSim >= threshold) return {best->personId, best->portraitImportance};
    return {-1, 0.0f};
}

float clusterImportance(const FrameList& cluster, const std::vector<PersonRecord>& persons, float threshold) {
    float best = 0.0f;
    for (const ImageRecord* f : cluster)
        for (const auto& e : f->embeddings) {
            const auto [id, importance] = matchPerson(e, persons, threshold);
            if (id >= 0) best = std::max(best, importance);
        }
    return best;
}

std::vector<int32_t> facePersonsOf(const ImageRecord& frame, const std::vector<PersonRecord>& persons,
                                   float threshold) {
    std::vector<int32_t> out;
    for (const auto& e : frame.embeddings) {
        int32_t index = -1;
        float best = threshold;
        for (size_t p = 0; p < persons.size(); ++p) {
            if (persons[p].anchor.empty()) continue;
            const float s = embeddingSimilarity(e, persons[p].anchor);
            if (s >= best) {  // on equal similarity the later person wins
                index = int32_t(p);
                best = s;
            }
        }
        out.push_back(index);
    }
    return out;
}

float vipSimilarityOf(const ImageRecord& frame, const std::vector<PersonRecord>& persons) {
    if (persons.empty() || persons.front().anchor.empty()) return 0.0f;
    float best = 0.0f;
    for (const auto& e : frame.embeddings) best = std::max(best, embeddingSimilarity(e, persons.front().anchor));
    return best;
}

bool onlyTopPersonsOf(const std::vector<int32_t>& facePersons, size_t personCount) {
    const int32_t limit = int32_t(std::min<size_t>(personCount, 2));
    return !facePersons.empty() &&
           std::all_of(facePersons.begin(), facePersons.end(), [&](int32_t p) { return p >= 0 && p < limit; });
}

int32_t chooseCover(const std::vector<ResultImage>& rows) {
    auto best = [&](auto&& eligible) {
        int32_t index = -1;
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].engineSelected && eligible(rows[i]) && (index < 0 || rows[i].score > rows[size_t(index)].score))
                index = int32_t(i);
        return index;
    };
    int32_t cover = best([](const ResultImage& r) { return r.hasVip; });
    const auto withPeople = [](const ResultImage& r) {
        return r.category == Category::Portrait || r.category == Category::Group;
    };
    if (cover < 0) cover = best(withPeople);
    if (cover < 0) cover = best([](const ResultImage&) { return true; });
    return cover;
}

}  // namespace keepframe
