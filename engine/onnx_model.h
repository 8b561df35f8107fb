// One ONNX Runtime session with its input and output names. Each analysis
// thread owns its own models; a loaded model is never shared between threads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <onnxruntime_cxx_api.h>

namespace keepframe {

struct OnnxModel {
    std::unique_ptr<Ort::Env> env;
    std::unique_ptr<Ort::Session> session;
    Ort::AllocatorWithDefaultOptions allocator;
    std::string inputName;
    std::vector<std::string> outputNames;
    int inputSize = 0;    // detector only
    bool loaded = false;  // false only for an eye model that could not be loaded

    // Runs the session on one float tensor held by the caller. Throws
    // std::runtime_error with the runtime's message on failure.
    std::vector<Ort::Value> run(std::vector<float>& input, const std::vector<int64_t>& shape) const;
};

// Throw std::runtime_error carrying the runtime's message when the file is
// missing or not a usable model. Sessions use the extended graph optimisation
// level, or the full level when `fullOptimization` is set.
OnnxModel loadDetector(const std::string& path, int inputSize, bool fullOptimization = false);
OnnxModel loadRecognizer(const std::string& path, bool fullOptimization = false);
OnnxModel loadExpressionModel(const std::string& path, bool fullOptimization = false);
// Never throws: a model that cannot be loaded has `loaded` false.
OnnxModel loadEyeModel(const std::string& path, bool fullOptimization = false);

// Number of float elements of an output tensor, and its data.
size_t tensorSize(const Ort::Value& value);

}  // namespace keepframe
