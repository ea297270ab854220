#include "tools/ixowatch/watchstate.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "memutil.h"
#include "support/envcfgutil.h"
#include "support/fileutil.h"

namespace ixowatch {

StateMap loadState(const std::string& path) {
    StateMap state;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        size_t a = line.find('\t');
        size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
        if (c == std::string::npos || c + 1 >= line.size()) continue;
        FileState s;
        char* end = nullptr;
        s.mtime = std::strtoll(line.c_str(), &end, 10);
        if (end && *end == '.' && end + 10 == line.c_str() + a) {
            char* nsEnd = nullptr;
            int64_t ns = std::strtoll(end + 1, &nsEnd, 10);
            if (nsEnd == end + 10 && ns >= 0 && ns < 1000000000) s.mtimeNs = ns;
        }
        s.size = std::strtoll(line.c_str() + a + 1, nullptr, 10);
        s.reference = line.substr(b + 1, c - b - 1);
        state[line.substr(c + 1)] = std::move(s);
    }
    return state;
}

bool saveState(const std::string& path, const StateMap& state) {
    std::string text;
    char ns[24];
    for (const auto& [file, s] : state) {
        text += std::to_string(s.mtime);
        if (s.mtimeNs >= 0) {
            std::snprintf(ns, sizeof ns, ".%09lld", static_cast<long long>(s.mtimeNs));
            text += ns;
        }
        text += "\t" + std::to_string(s.size) + "\t" + s.reference + "\t" + file + "\n";
    }
    const std::string temp = path + ".new";
    if (!fileWriteWhole(temp.c_str(), text.data(), static_cast<int64_t>(text.size()))) return false;
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

bool sameFile(const FileState& remembered, const FileState& now) {
    if (remembered.mtime != now.mtime || remembered.size != now.size) return false;
    return remembered.mtimeNs < 0 || now.mtimeNs < 0 || remembered.mtimeNs == now.mtimeNs;
}

std::string contentListPath(const std::string& home) {
    return (home.empty() ? std::string(".") : home) + "/ixo/content.ini";
}

namespace {

constexpr const char* kSection = "CONTENT";

std::vector<std::string> numbered(ConfigFile* cfg, const char* base) {
    std::vector<std::string> out;
    char** texts = nullptr;
    int32_t count = 0;
    envCfgGetNumberedRun(cfg, kSection, base, &count, &texts, nullptr);
    for (int32_t i = 0; i < count; ++i)
        if (texts[i] && *texts[i]) out.emplace_back(texts[i]);
    envCfgFreeTexts(&texts, count);
    return out;
}

}  // namespace

bool loadContentList(const std::string& home, ContentList& out) {
    const std::string path = contentListPath(home);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        out = ContentList{};
        return !ec;
    }
    ConfigFile* cfg = nullptr;
    if (envCfgLoad(&cfg, path.c_str(), ENVCFG_OWNED | ENVCFG_DECODE_VALUES) != 0 || !cfg)
        return false;
    ContentList list;
    list.folders = numbered(cfg, "FOLDER");
    list.mail = numbered(cfg, "MAIL");
    int analysis = 0;
    envCfgGetBool(cfg, kSection, "ANALYSIS", &analysis, 0);
    list.analysis = analysis != 0;
    envCfgClose(&cfg);
    out = std::move(list);
    return true;
}

bool saveContentList(const std::string& home, const ContentList& list) {
    const std::string path = contentListPath(home);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    ConfigFile* cfg = nullptr;
    if (envCfgLoadFromMemory(&cfg, "", 0, path.c_str(), ENVCFG_OWNED | ENVCFG_DECODE_VALUES) != 0 ||
        !cfg)
        return false;
    bool ok = true;
    auto put = [&](const char* base, const std::vector<std::string>& values) {
        for (size_t i = 0; i < values.size(); ++i)
            ok &= envCfgSetText(cfg, kSection, (base + std::to_string(i)).c_str(),
                                values[i].c_str()) == 0;
    };
    put("FOLDER", list.folders);
    put("MAIL", list.mail);
    ok &= envCfgSetBool(cfg, kSection, "ANALYSIS", list.analysis ? 1 : 0) == 0;
    ok = ok && envCfgSave(cfg) == 0;
    envCfgClose(&cfg);
    return ok;
}

}  // namespace ixowatch
