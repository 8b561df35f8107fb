// The recurring people of a shoot, found from the face embeddings of the
// portrait and group frames. Person 0 (the VIP) is seen in the most portraits.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "clustering.h"
#include "records.h"
#include "similarity.h"

namespace keepframe {

struct PersonRecord {
    int32_t personId = 0;
    Embedding anchor;
    std::vector<Embedding> embeddings;
    int32_t portraitCount = 0;
    int32_t groupCount = 0;
    int32_t totalCount = 0;
    float portraitImportance = 0;
    std::vector<std::string> samples;
};

// Cluster id -> frames of the cluster (scan order), ascending ids.
using ClusterMap = std::map<int32_t, FrameList>;

std::vector<PersonRecord> buildPersons(const ClusterMap& portraits, const ClusterMap& groups, float threshold,
                                       const EngineLog& log);

// Index of the person whose anchor the embedding matches best (at or above the
// threshold; the embedding joins that person), or of a new person made from it.
int matchOrCreatePerson(const Embedding& e, std::vector<PersonRecord>& persons, float threshold);

// Normalised element-wise mean.
Embedding averageEmbedding(const std::vector<Embedding>& embeddings);

// (personId, portraitImportance) of the best-matching person, or (-1, 0).
std::pair<int32_t, float> matchPerson(const Embedding& e, const std::vector<PersonRecord>& persons, float threshold);

// Largest importance matched by any face of the cluster; 0 when none matches.
float clusterImportance(const FrameList& cluster, const std::vector<PersonRecord>& persons, float threshold);

// One person index (or -1) per embedding of the frame.
std::vector<int32_t> facePersonsOf(const ImageRecord& frame, const std::vector<PersonRecord>& persons, float threshold);
// Best similarity of the frame's faces to Person 0, at least 0.
float vipSimilarityOf(const ImageRecord& frame, const std::vector<PersonRecord>& persons);
// Every face belongs to Person 0 or Person 1 (false without faces).
bool onlyTopPersonsOf(const std::vector<int32_t>& facePersons, size_t personCount);

// Index of the cover row: the best selected frame showing the VIP, else the
// best selected portrait or group frame, else the best selected frame; -1
// without selected frames.
int32_t chooseCover(const std::vector<ResultImage>& rows);

}  // namespace keepframe
