#include "models_folder.h"

#include "paths.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace fs = std::filesystem;

namespace keepframe {

const char* const kModelFiles[4] = {"buffalo_l/det_10g.onnx", "buffalo_l/w600k_r50.onnx", "emotion-ferplus-8.onnx",
                                    "open_closed_eye.onnx"};

std::string resolveModelsFolder(const std::string& applicationFolder) {
    const std::string beside = pathToUtf8(utf8ToPath(applicationFolder) / "models");
    std::error_code ec;
    if (fs::is_directory(utf8ToPath(beside), ec)) return beside;
    const char* dev = std::getenv("KEEPFRAME_MODELS");
    if (dev && *dev && fs::is_directory(utf8ToPath(dev), ec)) return dev;
    return beside;
}

std::string applicationFolder(const char* argv0) {
    std::error_code ec;
#ifdef __linux__
    const fs::path exe = fs::canonical("/proc/self/exe", ec);
    if (!ec) return pathToUtf8(exe.parent_path());
#endif
    return pathToUtf8(fs::absolute(utf8ToPath(argv0), ec).parent_path());
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
