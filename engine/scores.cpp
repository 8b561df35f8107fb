#include "scores.h"

#include "persons.h"

#include <algorithm>

namespace keepframe {

float faceScore(const ImageRecord& frame, Category category, const EngineConfig& config) {
    if (frame.faces.empty()) return 0.05f;
    const double n = double(frame.faces.size());
    double meanConf = 0, meanArea = 0, meanGradient = 0;
    const FaceRecord* largest = &frame.faces.front();
    for (const auto& f : frame.faces) {
        meanConf += f.confidence;
        meanArea += f.area;
        meanGradient += f.gradient;
        if (f.area > largest->area) largest = &f;
    }
    meanConf /= n;
    meanArea /= n;
    meanGradient /= n;

    if (category == Category::Portrait) {
        const double eye = frame.eyeSharpness;
        const double sizeTerm = std::min(largest->area / 0.05, 1.0);
        const double eyeTerm = eye <= 650 ? std::min(eye / 650, 1.0) : 1.0 - std::min((eye - 650) / 1500, 0.3);
        // The gradient of the largest face (the first one on equal areas).
        const double gradTerm = std::min(largest->gradient / 40.0, 1.0);
        const double quality = 0.45 * meanConf + 0.3 * eyeTerm + 0.15 * sizeTerm + 0.1 * gradTerm;
        return float(quality * config.portraitQualityWeight + frame.expression * config.portraitExpressionWeight);
    }
    const double q = 0.5 * std::min(meanGradient / 50.0, 1.0) + 0.3 * meanConf + 0.2 * std::min(meanArea / 0.05, 1.0);
    if (config.groupExpressionEnabled && config.groupExpressionWeight > 0) {
        const double w = config.groupExpressionWeight;
        return float((1 - w) * q + w * frame.expression);
    }
    return float(q);
}

void computeFinalScore(ImageRecord& frame, const std::vector<PersonRecord>& persons, const EngineConfig& config) {
    const int32_t i = frame.personIndex;
    const float importance = i >= 0 && size_t(i) < persons.size() ? persons[size_t(i)].portraitImportance : 0.0f;
    if (frame.category == Category::Venue) frame.finalScore = frame.sharpness / 500.0f;
    else if (frame.category == Category::Portrait)
        frame.finalScore = 0.6f * faceScore(frame, Category::Portrait, config) + 0.4f * importance;
    else
        frame.finalScore =
            0.4f * faceScore(frame, Category::Group, config) + 0.4f * importance + (frame.personFlag ? 0.2f : 0.0f);
}

}  // namespace keepframe
