// A test with the project's tiny test models loaded and a folder for the
// frames it paints.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "analysis.h"
#include "faces.h"
#include "painted_frames.h"
#include "temp_dir.h"
#include "test_models.h"

namespace keepframe::testing {

struct ModelFixture : ::testing::Test {
    TempDir dir;
    EngineConfig config = testModelConfig();
    std::unique_ptr<ModelSet> models = loadModelSet(config);

    // The analysis of `analysis` written to the test folder as `name`.
    ImageRecord analyze(const cv::Mat& analysis, const std::string& name = "f.png") {
        return analyzeImage(name, writeFrame(dir, name, analysis), models.get(), config);
    }
};

}  // namespace keepframe::testing
