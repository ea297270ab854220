// Configuration parsing: the first byte picks the form (line in place, line owned, tag)
// and whether the bytes are scrambled or the values decoded; the rest is the file.
// Every entry found is then read back through the text, number and Boolean lookups.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/envcfgutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const int32_t forms[] = {0, ENVCFG_OWNED, ENVCFG_TAGFORM, ENVCFG_OWNED};
    int32_t flags = forms[data[0] & 3];
    if (data[0] & 4) flags |= ENVCFG_SCRAMBLED;
    if (data[0] & 8) flags |= ENVCFG_DECODE_VALUES;
    ConfigFile* cfg = nullptr;
    if (envCfgLoadFromMemory(&cfg, reinterpret_cast<const char*>(data + 1),
                             static_cast<int32_t>(size - 1), nullptr, flags) != 0)
        return 0;
    std::vector<std::pair<std::string, std::string>> names;
    for (ConfigSection* s = cfg->sections; s; s = s->next) {
        for (ConfigEntry* e = s->entries; e && names.size() < 64; e = e->next)
            names.emplace_back(s->name, e->key);
    }
    for (const auto& [section, key] : names) {
        char* value = nullptr;
        envCfgGetText(cfg, section.c_str(), key.c_str(), &value, nullptr);
        if (value) memFree(value);
        envCfgGetLong(cfg, section.c_str(), key.c_str(), nullptr, 0);
        envCfgGetBool(cfg, section.c_str(), key.c_str(), nullptr, 0);
    }
    if (!cfg->readOnly) envCfgSetText(cfg, "FUZZ", "KEY", "value");
    envCfgClose(&cfg);
    return 0;
}
