// The mail message importer.
#include "import/emlimport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

#include "import/asciicase.h"
#include "import/charset.h"
#include "import/importargs.h"
#include "import/importimpl.h"
#include "import/importlog.h"
#include "import/readfile.h"
#include "import/tempfiles.h"
#include "support/dateutil.h"
#include "support/fileutil.h"

namespace {

constexpr const char* kDatePattern = "D+ SHORTMONTH YYYY HH:NN:SS";
// Attachments of attachments are imported this many levels deep at most.
constexpr int kMaxAttachmentDepth = 4;
// Numbered names tried for one attachment before it is given up.
constexpr int kMaxNameTries = 1000;

thread_local int gAttachmentDepth = 0;

// Names held until the message that gave them is done: those of attachments only
// named, and the side-file names of all attachments (their side files stay in memory).
thread_local std::unordered_set<std::string> gHeldNames;

enum class NameState { Free, Taken, Unusable };

// Whether an attachment that is only named may take path: free when nothing of that
// name exists and no other attachment holds it. A name that cannot be looked up is
// unusable, as a file that cannot be created there would be.
NameState nameState(const std::string& path) {
    if (gHeldNames.count(path)) return NameState::Taken;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return NameState::Free;
    return ec ? NameState::Unusable : NameState::Taken;
}

using ascii_case::equalsCaseBlind;
using ascii_case::startsWithCaseBlind;

std::string trimmed(std::string_view s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// A value written on one IDX line: control characters and double quotes become blanks.
std::string oneLine(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32 || c == '"') c = ' ';
    return out;
}

void logToImportLog(void*, int level, const std::string& line) {
    importLog(level, "%s", line.c_str());
}

// Splits a recipient list at ',', ';', CR and LF and stores the trimmed, decoded
// entries as base-%d (from 0), the first one also as base.
void setRecipients(const IdxRemapTable* remap, SrcFileSpec* sfs, const std::string& list,
                   const char* base) {
    int k = 0;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find_first_of(",;\r\n", pos);
        if (end == std::string::npos) end = list.size();
        std::string entry = trimmed(emlDecodeHeaderText(trimmed(list.substr(pos, end - pos))));
        if (!entry.empty()) {
            if (k == 0) srcFileSpecSetFieldRemapped(remap, sfs, base, entry.c_str());
            const std::string name = std::string(base) + "-" + std::to_string(k);
            srcFileSpecSetFieldRemapped(remap, sfs, name.c_str(), entry.c_str());
            ++k;
        }
        pos = end + 1;
    }
}

// Opens path for writing only when nothing of that name exists (not even a symbolic
// link), readable by the user only.
std::FILE* createNew(const std::string& path) {
    return importCreateExclusiveFile(path);
}

bool writeAll(std::FILE* file, const std::string& bytes) {
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

std::string emlNormalizeLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // Copies the runs between carriage returns whole; each CR or CR LF becomes one LF.
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t cr = text.find('\r', pos);
        if (cr == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, cr - pos));
        out += '\n';
        pos = cr + 1;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    }
    return out;
}

bool emlSetImportDetails(const ImportArgs* args, const EmlMessage& message, std::string_view raw,
                         SrcFileSpec* sfs, std::string* dateText) {
    if (dateText) dateText->clear();
    if (!message.headerEnd.found || message.headerEnd.headerLength < 3) return false;
    const IdxRemapTable remap = args ? args->remapTable() : IdxRemapTable{};
    std::optional<std::string> to, from, subject, messageId, date, cc;
    for (const EmlHeader& h : message.headers) {
        if (equalsCaseBlind(h.name, "To") || equalsCaseBlind(h.name, "Envelope-to")) {
            to = h.value;
        } else if (equalsCaseBlind(h.name, "From")) {
            from = h.value;
        } else if (equalsCaseBlind(h.name, "Subject")) {
            subject = h.value;
        } else if (equalsCaseBlind(h.name, "Message-ID")) {
            messageId = h.value;
        } else if (equalsCaseBlind(h.name, "Date")) {
            date = h.value;
        } else if (equalsCaseBlind(h.name, "Cc")) {
            cc = h.value;
        } else if (startsWithCaseBlind(h.name, "X-") && h.name.size() > 2) {
            const std::string name = trimmed(h.name.substr(2));
            if (!name.empty())
                srcFileSpecSetFieldRemapped(&remap, sfs, name.c_str(), trimmed(h.value).c_str());
        }
    }

    if (date) {
        const std::string text = trimmed(*date);
        if (dateText) *dateText = text;
        int64_t seconds = 0;
        if (dateParse(nullptr, text.c_str(), kDatePattern, &seconds) == 1) {
            srcFileSpecSetDate(sfs, std::to_string(seconds).c_str());
            srcFileSpecSetFieldRemapped(&remap, sfs, "ShortDate", text.c_str());
        }
    } else {
        srcFileSpecSetDate(sfs, std::to_string(static_cast<long>(std::time(nullptr))).c_str());
    }

    if (messageId) srcFileSpecSetReference(sfs, trimmed(*messageId).c_str());
    if (subject) {
        const std::string text = trimmed(emlDecodeHeaderText(*subject));
        srcFileSpecSetTitle(sfs, text.c_str());
        srcFileSpecSetFieldRemapped(&remap, sfs, "Subject", text.c_str());
    }
    if (from) {
        const std::string text = trimmed(emlDecodeHeaderText(*from));
        srcFileSpecSetFieldRemapped(&remap, sfs, "From", text.c_str());
    }

    std::string content;
    if (message.body) {
        content = *message.body;
    } else if (message.headerEnd.bodyStart < raw.size()) {
        content = charsetDocumentToWindows1252(raw.substr(message.headerEnd.bodyStart),
                                               charsetFromContentType(message.contentTypeValue));
    }
    srcFileSpecSetContent(sfs, emlNormalizeLineEnds(content));

    if (to) setRecipients(&remap, sfs, *to, "To");
    if (cc) setRecipients(&remap, sfs, *cc, "Cc");
    return true;
}

std::string emlAttachmentDirectory(const ImportArgs* args) {
    std::string dir;
    if (!args->attachmentsSet) {
        // Attachments only passing through go to the temporary folder: the one the
        // arguments name, else the private folder of the process.
        return importTempFolder(args);
    } else if (args->attachmentKeep && args->attachmentDir && !args->attachmentDir->empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(*args->attachmentDir, ec)) return {};
        dir = *args->attachmentDir;
    } else {
        return {};
    }
    if (dir.empty()) dir = "./";
    return dir;
}

std::vector<EmlWrittenAttachment> emlWriteAttachments(
    const EmlMessage& message, const std::string& directory, const std::string& parentReference,
    long parentDate, const std::string& parentDateText, const EmlNeedsFile& needsFile) {
    std::vector<EmlWrittenAttachment> written;
    if (directory.empty()) return written;
    std::string dir = directory;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    // Whether the folder exists, looked up once for the first attachment only named.
    std::optional<bool> folderExists;
    for (size_t index = 0; index < message.parts.size(); ++index) {
        const EmlPart& part = message.parts[index];
        if (!part.fileName || !part.hasData) continue;
        std::string name = emlSafeFileName(*part.fileName);
        if (name.empty()) name = "email" + std::to_string(index) + ".eml";
        EmlWrittenAttachment out;
        // A file nobody will read is only named: creating and removing it (and its side
        // file) costs more than the rest of the message's import.
        if (needsFile && !needsFile(dir + name)) {
            if (!folderExists) {
                std::error_code ec;
                folderExists = std::filesystem::is_directory(dir, ec);
            }
            bool named = false;
            for (int attempt = 0; *folderExists && attempt <= kMaxNameTries; ++attempt) {
                std::string path =
                    attempt == 0
                        ? dir + name
                        : dir + std::to_string(index + static_cast<size_t>(attempt)) + name;
                std::string sidePath = path + kIdxSideFileSuffix;
                NameState state = nameState(path);
                if (state == NameState::Free) state = nameState(sidePath);
                if (state == NameState::Taken) continue;
                if (state == NameState::Unusable) break;
                out.path = std::move(path);
                out.sidePath = std::move(sidePath);
                out.onDisk = false;
                named = true;
                break;
            }
            if (!named) {
                importLog(2, "Warning: Couldn't write attachment %s\n", name.c_str());
                continue;
            }
            written.push_back(out);
            gHeldNames.insert(out.path);
            gHeldNames.insert(out.sidePath);
            continue;
        }
        // A name is taken only when neither the file nor its side file exists. The file
        // is created exclusively, so nothing that is there is ever replaced; the side
        // file is only read by this thread's importers and is held in memory under its
        // name, which is looked up (it must not exist) and then held.
        std::FILE* file = nullptr;
        for (int attempt = 0; attempt <= kMaxNameTries && !file; ++attempt) {
            std::string path =
                attempt == 0 ? dir + name
                             : dir + std::to_string(index + static_cast<size_t>(attempt)) + name;
            std::string sidePath = path + kIdxSideFileSuffix;
            if (!gHeldNames.empty() && (gHeldNames.count(path) || gHeldNames.count(sidePath)))
                continue;
            file = createNew(path);
            if (!file) {
                if (errno == EEXIST) continue;
                break;
            }
            const NameState sideState = nameState(sidePath);
            if (sideState != NameState::Free) {
                std::fclose(file);
                file = nullptr;
                std::remove(path.c_str());
                if (sideState == NameState::Taken) continue;
                break;
            }
            out.path = std::move(path);
            out.sidePath = std::move(sidePath);
        }
        if (!file) {
            importLog(2, "Warning: Couldn't write attachment %s\n", name.c_str());
            continue;
        }
        if (!writeAll(file, part.text)) {
            std::remove(out.path.c_str());
            importLog(2, "Warning: Couldn't write attachment %s\n", out.path.c_str());
            continue;
        }
        importLog(3, "Just written %s\n", out.path.c_str());
        const std::string reference = oneLine(parentReference);
        std::string header =
            "#IXOREFERENCE " + reference + "-" + std::to_string(index) + "-" + oneLine(name) + "\n";
        header += "#IXODATE " + std::to_string(parentDate) + " " + oneLine(parentDateText) + "\n";
        header += "#IXOFIELD ParentDocument=\"" + reference + "\"\n";
        written.push_back(out);
        gHeldNames.insert(out.sidePath);
        importHoldSideFile(out.sidePath, std::move(header));
    }
    return written;
}

void emlReleaseAttachmentName(const EmlWrittenAttachment& attachment) {
    if (!attachment.onDisk) gHeldNames.erase(attachment.path);
    gHeldNames.erase(attachment.sidePath);
    importDropSideFile(attachment.sidePath);
}

int emlImportHandler(ImportContext* context, ImportArgs* args, char* fname, size_t,
                     const char* from, SrcFileSpec* sfs, ImportEntry*) {
    ASSERT_a(fname != NULL);
    ASSERT_a(from != NULL);
    ASSERT_a(sfs != NULL);
    std::string raw;
    if (!importReadWholeFile(from, raw) || raw.empty()) {
        importAddError(context, -6, -3, "Email parser: Couldn't read file", from);
        return -8;
    }

    const EmlLogSink log{logToImportLog, nullptr};
    const EmlMessage message = emlParseMessage(raw, log);
    std::string dateText;
    if (!emlSetImportDetails(args, message, raw, sfs, &dateText))
        importLog(2, "emlSetImportDetails() Failed\n");

    // The side files come before the attachments so that the attachments name the
    // message by the reference it is finally saved under.
    importMergeSideFiles(args, from, sfs);
    srcFileSpecSetFilename(sfs, from);

    const std::string directory = emlAttachmentDirectory(args);
    const std::string parentReference = sfs->reference ? *sfs->reference : std::string(from);
    long parentDate = sfs->date ? std::strtol(sfs->date->c_str(), nullptr, 10) : 0;
    if (parentDate <= 0) parentDate = static_cast<long>(std::time(nullptr));
    // Attachments are read back only when they are kept or imported by a handler of
    // their type; the others are only named (the names still show in the error list).
    const bool keepFiles = args->attachmentKeep && args->attachmentsSet;
    const bool importing = !args->attachmentsSet || args->attachmentImport;
    const EmlNeedsFile needsFile = [&](const std::string& path) {
        return keepFiles || (importing && gAttachmentDepth < kMaxAttachmentDepth &&
                             !importRefusesType(context, args, path));
    };
    const std::vector<EmlWrittenAttachment> written =
        emlWriteAttachments(message, directory, parentReference, parentDate, dateText, needsFile);
    struct ReleaseNames {
        const std::vector<EmlWrittenAttachment>& written;
        ~ReleaseNames() {
            for (const EmlWrittenAttachment& a : written) emlReleaseAttachmentName(a);
        }
    } releaseNames{written};

    const IdxRemapTable remap = args->remapTable();
    if (args->attachmentKeep && args->attachmentsSet) {
        for (size_t i = 0; i < written.size(); ++i) {
            const std::string field = "ATTACHMENT" + std::to_string(i + 1);
            srcFileSpecSetFieldRemapped(&remap, sfs, field.c_str(), written[i].path.c_str());
            importLog(3, "importSetField [%s] Value [%s]\n", field.c_str(),
                      written[i].path.c_str());
        }
        const std::string count = std::to_string(written.size());
        srcFileSpecSetFieldRemapped(&remap, sfs, "NUMATTACH", count.c_str());
        importLog(3, "importSetField NUMATTACH Value [%s]\n", count.c_str());
    }

    if (!written.empty() && (!args->attachmentsSet || args->attachmentImport)) {
        if (gAttachmentDepth >= kMaxAttachmentDepth) {
            importLog(2, "Warning: Attachments of \"%s\" nested too deep, not imported\n", from);
        } else {
            importLog(3, "Well we are now importing\n");
            ++gAttachmentDepth;
            for (const EmlWrittenAttachment& a : written) {
                if (a.onDisk) {
                    importProcessAttachment(context, args, a.path.c_str());
                } else {
                    importLog(3, "Importing document \"%s\"\n", a.path.c_str());
                    importRefuseUnknownType(context, a.path.c_str());
                }
            }
            --gAttachmentDepth;
        }
    }

    for (const EmlWrittenAttachment& a : written) {
        if (!a.onDisk) continue;
        if (!args->attachmentKeep || !args->attachmentsSet) {
            if (args->attachmentsSet) importLog(3, "Deleting attachment: %s\n", a.path.c_str());
            fileDelete(a.path.c_str());
        }
    }
    return 0;
}
