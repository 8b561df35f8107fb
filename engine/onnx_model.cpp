#include "onnx_model.h"

#include "paths.h"

#include <filesystem>
#include <stdexcept>

namespace keepframe {
namespace {

OnnxModel load(const std::string& path, const char* logId, bool fullOptimization) {
    OnnxModel m;
    try {
        m.env = std::make_unique<Ort::Env>(ORT_LOGGING_LEVEL_WARNING, logId);
        Ort::SessionOptions options;
        options.SetIntraOpNumThreads(1);
        options.SetGraphOptimizationLevel(fullOptimization ? GraphOptimizationLevel::ORT_ENABLE_ALL
                                                           : GraphOptimizationLevel::ORT_ENABLE_EXTENDED);
        const std::filesystem::path file = utf8ToPath(path);
        m.session = std::make_unique<Ort::Session>(*m.env, file.c_str(), options);
        m.inputName = m.session->GetInputNameAllocated(0, m.allocator).get();
        for (size_t i = 0; i < m.session->GetOutputCount(); ++i)
            m.outputNames.emplace_back(m.session->GetOutputNameAllocated(i, m.allocator).get());
    } catch (const Ort::Exception& e) {
        throw std::runtime_error(e.what());
    }
    m.loaded = true;
    return m;
}

}  // namespace

std::vector<Ort::Value> OnnxModel::run(std::vector<float>& input, const std::vector<int64_t>& shape) const {
    try {
        const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
        Ort::Value tensor =
            Ort::Value::CreateTensor<float>(memory, input.data(), input.size(), shape.data(), shape.size());
        const char* in = inputName.c_str();
        std::vector<const char*> out;
        out.reserve(outputNames.size());
        for (const auto& n : outputNames) out.push_back(n.c_str());
        return session->Run(Ort::RunOptions{nullptr}, &in, &tensor, 1, out.data(), out.size());
    } catch (const Ort::Exception& e) {
        throw std::runtime_error(e.what());
    }
}

OnnxModel loadDetector(const std::string& path, int inputSize, bool fullOptimization) {
    OnnxModel m = load(path, "det", fullOptimization);
    m.inputSize = inputSize;
    return m;
}

OnnxModel loadRecognizer(const std::string& path, bool fullOptimization) {
    return load(path, "recog", fullOptimization);
}

OnnxModel loadExpressionModel(const std::string& path, bool fullOptimization) {
    return load(path, "emo", fullOptimization);
}

OnnxModel loadEyeModel(const std::string& path, bool fullOptimization) {
    try {
        OnnxModel m = load(path, "eye", fullOptimization);
        m.outputNames.resize(1);
        return m;
    } catch (const std::exception&) {
        return OnnxModel{};
    }
}

size_t tensorSize(const Ort::Value& value) { return value.GetTensorTypeAndShapeInfo().GetElementCount(); }

}  // namespace keepframe
