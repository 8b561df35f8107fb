#include "models_folder.h"

#include "paths.h"

#include <cstdio>
#include <filesystem>

#include <QFile>
#include <QtGlobal>
#include <QJsonDocument>
#include <QJsonObject>

namespace fs = std::filesystem;

namespace keepframe {

const char* const kModelFiles[4] = {"buffalo_l/det_10g.onnx", "buffalo_l/w600k_r50.onnx", "emotion-ferplus-8.onnx",
                                    "open_closed_eye.onnx"};

std::string missingModelMessage(const std::string& folder) {
    for (int m = 0; m < 3; ++m) {
        const fs::path path = utf8ToPath(folder) / kModelFiles[m];
        std::error_code ec;
        if (!fs::is_regular_file(path, ec))
            return "model file not found: " + pathToUtf8(path) +
                   " (build the models with tools/modelkit, or name a models folder with --models DIR or "
                   "KEEPFRAME_MODELS)";
    }
    return {};
}

EngineConfig modelConfig(const std::string& folder) {
    EngineConfig config;
    const fs::path dir = utf8ToPath(folder);
    config.detectorModelPath = pathToUtf8(dir / kModelFiles[0]);
    config.recognizerModelPath = pathToUtf8(dir / kModelFiles[1]);
    config.expressionModelPath = pathToUtf8(dir / kModelFiles[2]);
    config.eyeModelPath = pathToUtf8(dir / kModelFiles[3]);
    return config;
}

std::string programDataFolder(const std::string& applicationFolder, const std::string& name) {
    const fs::path program = utf8ToPath(applicationFolder);
    std::error_code ec;
    const fs::path beside = program / utf8ToPath(name);
    if (fs::is_directory(beside, ec)) return pathToUtf8(beside);
    const fs::path installed = (program / KEEPFRAME_DATA_FROM_PROGRAMS / utf8ToPath(name)).lexically_normal();
    if (fs::is_directory(installed, ec)) return pathToUtf8(installed);
    return pathToUtf8(beside);
}

std::string resolveModelsFolder(const std::string& applicationFolder) {
    const std::string folder = programDataFolder(applicationFolder, "models");
    std::error_code ec;
    if (fs::is_directory(utf8ToPath(folder), ec)) return folder;
    // Read as Qt reads the environment: wide on Windows, so any letters pass.
    const std::string dev = qEnvironmentVariable("KEEPFRAME_MODELS").toStdString();
    if (!dev.empty() && fs::is_directory(utf8ToPath(dev), ec)) return dev;
    return folder;
}

std::vector<std::string> describeModelsFolder(const std::string& folder) {
    std::vector<std::string> lines;
    lines.push_back("Models folder: " + folder);
    for (const char* file : kModelFiles) {
        std::error_code ec;
        const auto size = fs::file_size(utf8ToPath(folder) / file, ec);
        char line[512];
        if (ec) std::snprintf(line, sizeof line, "  %-28s missing", file);
        else std::snprintf(line, sizeof line, "  %-28s %10llu bytes", file, static_cast<unsigned long long>(size));
        lines.emplace_back(line);
    }
    QFile manifest(QString::fromStdString(pathToUtf8(utf8ToPath(folder) / "MANIFEST.json")));
    if (!manifest.open(QIODevice::ReadOnly)) {
        lines.push_back("No MANIFEST.json: these files were not built by the model kit.");
        return lines;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(manifest.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        lines.push_back("MANIFEST.json is not valid JSON: " + error.errorString().toStdString());
        return lines;
    }
    const QJsonObject root = doc.object();
    lines.push_back("Built by " + root.value("kit").toString("an unknown kit").toStdString() + ":");
    const QJsonObject files = root.value("files").toObject();
    for (const QString& role : {QStringLiteral("detector"), QStringLiteral("recognizer"), QStringLiteral("expression"),
                                QStringLiteral("eye")}) {
        const QJsonObject f = files.value(role).toObject();
        if (f.isEmpty()) continue;
        lines.push_back("  " + role.toStdString() + ": " + f.value("source").toString().toStdString() + " (" +
                        f.value("licence").toString().toStdString() + ")");
        // Where the source file came from: its public origin, the folder the
        // kit read it from and, when the kit downloaded it there, from where.
        const QString origin = f.value("origin").toString();
        if (!origin.isEmpty()) lines.push_back("    origin: " + origin.toStdString());
        const QString folder = f.value("source_folder").toString();
        const QString url = f.value("downloaded_from").toString();
        std::string from = "    taken from: " + folder.toStdString();
        if (url == origin && !url.isEmpty()) from += " (downloaded from its origin)";
        else if (!url.isEmpty()) from += " (downloaded from " + url.toStdString() + ")";
        if (!folder.isEmpty()) lines.push_back(from);
    }
    return lines;
}

}  // namespace keepframe
