#include "records.h"

namespace keepframe {

std::string defaultModelsFolder() { return "models/"; }

std::vector<FaceBox> fullResolutionFaceBoxes(const ImageRecord& frame) {
    std::vector<FaceBox> boxes;
    boxes.reserve(frame.faces.size());
    for (const auto& f : frame.faces)
        boxes.push_back({f.x1 * 4, f.y1 * 4, (f.x2 - f.x1) * 4, (f.y2 - f.y1) * 4});
    return boxes;
}

}  // namespace keepframe
