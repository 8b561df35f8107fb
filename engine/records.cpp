#include "records.h"

#include <algorithm>

namespace keepframe {

std::string defaultModelsFolder() { return "models/"; }

FaceBox fullResolutionBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t fullW, int32_t fullH) {
    const int32_t left = std::min(x1 * kAnalysisScale, fullW), top = std::min(y1 * kAnalysisScale, fullH);
    const int32_t right = std::min(x2 * kAnalysisScale, fullW), bottom = std::min(y2 * kAnalysisScale, fullH);
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

std::vector<FaceBox> fullResolutionFaceBoxes(const ImageRecord& frame) {
    std::vector<FaceBox> boxes;
    boxes.reserve(frame.faces.size());
    for (const auto& f : frame.faces)
        boxes.push_back(fullResolutionBox(f.x1, f.y1, f.x2, f.y2, frame.fullW, frame.fullH));
    return boxes;
}

}  // namespace keepframe
