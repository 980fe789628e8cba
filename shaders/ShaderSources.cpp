#include "shaders/ShaderSources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Where the build puts the shader resources: one file per function, named after it.
const QString resourceFolder = QStringLiteral(":/shaders");
}  // namespace

std::optional<ShaderSources> ShaderSources::builtIn() {
    const QDir folder(resourceFolder);
    if (!folder.exists()) return std::nullopt;
    std::map<std::string, std::string> functions;
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files, QDir::Name)) {
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly)) continue;
        functions.emplace(entry.completeBaseName().toStdString(), file.readAll().toStdString());
    }
    if (functions.empty()) return std::nullopt;
    return ShaderSources(std::move(functions));
}

std::optional<std::string> ShaderSources::source(const std::string& name) const {
    const auto found = functions_.find(name);
    if (found == functions_.end()) return std::nullopt;
    return found->second;
}
