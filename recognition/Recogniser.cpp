#include "recognition/Recogniser.h"

#include <filesystem>

#include "recognition/ModelLocation.h"

namespace notavox::recognition {

Recogniser::Recogniser(const std::string& modelFile) {
    file_ = modelFile.empty() ? FindModelFile() : modelFile;
    if (file_.empty()) {
        message_ = MissingModelText();
        return;
    }
    ModelLoad load = LoadModel(file_);
    if (!load.ok) {
        message_ = load.message;
        return;
    }
    model_ = std::move(load.model);
    ready_ = true;
}

std::string MissingModelText() {
    std::string text = std::string("Die Modelldatei ") + kModelFileName +
                       " wurde nicht gefunden. Ohne sie ist die genaue Erkennung nicht möglich.\n\n"
                       "Gesucht wurde hier:";
    for (const std::string& p : ModelSearchPaths()) text += "\n" + std::filesystem::path(p).lexically_normal().string();
    return text;
}

}  // namespace notavox::recognition
