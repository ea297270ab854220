/* Sectioned configuration files.
 *
 * A configuration is loaded whole into memory as a list of sections, each a list of
 * key/value pairs. Section and key names are kept trimmed and upper-cased, so every
 * lookup ignores case and surrounding blanks. A key missing from the section asked
 * for is looked up in the section "DEFAULT". Two file forms exist:
 *
 *   line form   [Section]            tag form   <Section>
 *               Key=Value                         <Key>Value</Key>
 *                                                 </Section>
 *
 * Loaded with neither ENVCFG_OWNED nor ENVCFG_TAGFORM, the line form is parsed in
 * place: names and values point into the loaded text and the configuration is
 * read-only (setters and saving fail with -4). */
#ifndef SAPIOLUX_ENVCFGUTIL_H
#define SAPIOLUX_ENVCFGUTIL_H

#include <stdint.h>

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Load flags. */
#define ENVCFG_OWNED 1          /* line form with owned copies: changeable, savable */
#define ENVCFG_SCRAMBLED 2      /* every byte of the file is XORed with 0x5A */
#define ENVCFG_TAGFORM 4        /* tag form (owned copies) */
#define ENVCFG_CREATE 8         /* a missing file gives an empty, changeable configuration */
#define ENVCFG_DECODE_VALUES 16 /* values are %XX-decoded on load and encoded on save */

/* The byte every scrambled file is XORed with. */
#define ENVCFG_SCRAMBLE_KEY 0x5A

typedef struct ConfigEntry {
    char* key;    /* upper case, trimmed */
    char* value;  /* may be null */
    int32_t used; /* set when a lookup returned this entry */
    struct ConfigEntry* prev;
    struct ConfigEntry* next;
} ConfigEntry;

typedef struct ConfigSection {
    char* name;             /* upper case, trimmed */
    ConfigEntry* entries;   /* first entry */
    ConfigEntry* lastEntry; /* last entry, for appending */
    struct ConfigSection* prev;
    struct ConfigSection* next;
} ConfigSection;

typedef struct ConfigFile {
    int32_t size;                  /* running byte count of all names and values */
    int32_t readOnly;              /* parsed in place (format 0): setters and saving fail */
    int32_t scrambled;             /* saved XOR-scrambled; a caller may set it before saving */
    int32_t tagForm;               /* saved in the tag form */
    int32_t decodedValues;         /* values are encoded again on save */
    char* text;                    /* the file's contents when parsed in place, else null */
    char* fileName;                /* where the configuration is saved */
    ConfigSection* sections;       /* in file order */
    ConfigSection* lastSection;    /* tail of the list, for appending */
    int32_t listDefaults;          /* key "ListDefaults" of section "ConfigHelp" */
    ConfigSection* foundSection;   /* the section found by the previous lookup */
    ConfigSection* defaultSection; /* the "DEFAULT" section once found */
} ConfigFile;

/* Loads fileName with the flags above into a new configuration (*cfg, released with
 * envCfgClose). 0 on success; -1 for null arguments; -3 when the file does not exist
 * (and ENVCFG_CREATE is not set) or cannot be read. An existing file that cannot be
 * read is never replaced by an empty configuration. */
SAPIOLUX_EXPORT int envCfgLoad(ConfigFile** cfg, const char* fileName, int32_t flags);
/* Parses text of length bytes as if it had been loaded from fileName (which may be
 * null: saving then fails). Same flags and results, without ENVCFG_CREATE. */
SAPIOLUX_EXPORT int envCfgLoadFromMemory(ConfigFile** cfg, const char* text, int32_t length,
                                         const char* fileName, int32_t flags);
/* Writes the used-entries report to the diagnostic log when "ListUnused" of section
 * "ConfigHelp" is true, releases everything and sets *cfg to null. Returns 0. */
SAPIOLUX_EXPORT int envCfgClose(ConfigFile** cfg);
/* Writes the configuration to its file, replacing the file atomically (a temporary
 * file in the same folder is renamed over it). 0; -1 for null; -4 when read-only or
 * when the text cannot be built (a name or value the form cannot hold) or written. */
SAPIOLUX_EXPORT int envCfgSave(ConfigFile* cfg);

/* Lookups. The entry is searched in section, then in "DEFAULT"; a found entry is
 * marked used. */

/* *value receives an owned copy of the value (surrounding double quotes removed and
 * backslash escapes \n \r \t \<c> resolved) and 1 is returned; when absent, a copy of
 * def (or null) and 0. */
SAPIOLUX_EXPORT int envCfgGetText(ConfigFile* cfg, const char* section, const char* key,
                                  char** value, const char* def);
/* The number (clamped at INT_MAX, with a warning in the diagnostic log); def when
 * absent. Also stored in *value when value is not null. */
SAPIOLUX_EXPORT int32_t envCfgGetInt(ConfigFile* cfg, const char* section, const char* key,
                                     int32_t* value, int32_t def);
SAPIOLUX_EXPORT long envCfgGetLong(ConfigFile* cfg, const char* section, const char* key,
                                   long* value, long def);
/* y..., on, true: 1; n..., off, false: 0; otherwise the number's truth; an empty value
 * 0; def when absent. Also stored in *value when value is not null. */
SAPIOLUX_EXPORT int envCfgGetBool(ConfigFile* cfg, const char* section, const char* key, int* value,
                                  int def);

/* Keys base+"0" to base+(*count - 1). *texts receives an owned array of *count entries
 * (copies of the values, or of def, or null); *count becomes one more than the last
 * index found (entries from there on are null). Returns that count. Release with
 * envCfgFreeTexts using the original count or the new one. */
SAPIOLUX_EXPORT int32_t envCfgGetNumberedTexts(ConfigFile* cfg, const char* section,
                                               const char* base, int32_t* count, char*** texts,
                                               const char* def);
/* Keys base+"0" to base+(count - 1) read as integers into the caller's array (def for
 * missing keys). Returns how many were found. */
SAPIOLUX_EXPORT int32_t envCfgGetNumberedInts(ConfigFile* cfg, const char* section,
                                              const char* base, int32_t count, int32_t* values,
                                              int32_t def);
/* Counts consecutive keys from base+"0" until one is missing, then reads them all into
 * an owned array (*texts, *count). Returns the count (0: *texts is null). */
SAPIOLUX_EXPORT int32_t envCfgGetNumberedRun(ConfigFile* cfg, const char* section, const char* base,
                                             int32_t* count, char*** texts, const char* def);
/* Releases an array from the numbered lookups and sets *texts to null. */
SAPIOLUX_EXPORT void envCfgFreeTexts(char*** texts, int32_t count);

/* Setters create the section and the key when missing and replace the value (null
 * allowed). 0; -1 for null or empty section or key, or a name that the file could
 * not hold (line breaks, '<' or '>', ']' in a section name, '=' in a key, a key not
 * beginning with a letter, digit or '%'); -4 when read-only. */
SAPIOLUX_EXPORT int envCfgSetText(ConfigFile* cfg, const char* section, const char* key,
                                  const char* value);
SAPIOLUX_EXPORT int envCfgSetInt(ConfigFile* cfg, const char* section, const char* key, long value);
SAPIOLUX_EXPORT int envCfgSetBool(ConfigFile* cfg, const char* section, const char* key, int value);
/* Sets every entry of source that has a value into target. 0, -1 or -4 as above. */
SAPIOLUX_EXPORT int envCfgCopyEntries(ConfigFile* target, ConfigFile* source);

/* The section of that name (case-blind), or null. */
SAPIOLUX_EXPORT ConfigSection* envCfgFindSection(ConfigFile* cfg, const char* section);

#ifdef __cplusplus
}
#endif

#endif
