// The mail message importer: the registry handler of "eml". It reads one stored
// message, fills the document from its headers and MIME body, merges the message's IDX
// side files, writes its attachments as files of their own (each with a side file, held
// in memory, that links it to the message by "ParentDocument") and imports them as
// documents.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import/emlparse.h"
#include "import/importctrl.h"

// Registry handler. 0, or -8 when the file cannot be read (or is empty).
int emlImportHandler(ImportContext* context, ImportArgs* args, char* fname, size_t fnameSize,
                     const char* from, SrcFileSpec* sfs, ImportEntry* entry);

// Sets the document values a parsed message gives: fields from the header lines
// (recipients, sender, subject, message id, date, "X-" headers), date, reference, title
// and content. raw is the whole message. false (nothing set) when the message has no
// header block of at least three characters. dateText receives the trimmed "Date:"
// text (empty without one).
bool emlSetImportDetails(const ImportArgs* args, const EmlMessage& message, std::string_view raw,
                         SrcFileSpec* sfs, std::string* dateText);

// Where attachments go: empty when they are not written.
std::string emlAttachmentDirectory(const ImportArgs* args);

// One attachment written to disk, or only named (onDisk false). Its side file is held
// in memory (importHoldSideFile) under sidePath; the side-file name, and the name of an
// attachment only named, are held for this thread until emlReleaseAttachmentName, so
// no other attachment takes them meanwhile.
struct EmlWrittenAttachment {
    std::string path;
    std::string sidePath;
    bool onDisk = true;
};

// Decides by a chosen file name whether the attachment must exist as a file.
using EmlNeedsFile = std::function<bool(const std::string& path)>;

// Writes every part that has a name and data into directory (which gets a separator
// when it has none), never replacing an existing file: the name is made safe, and
// while that name or its side-file name exists (or is held) the part index + 1, + 2,
// ... is put in front. Each written file gets its side file ("#IXOREFERENCE",
// "#IXODATE", "#IXOFIELD ParentDocument") naming parentReference, held in memory.
// When needsFile is given and says no for a name, the part is only named, not
// written. Returns what was written or named; each entry must be given to
// emlReleaseAttachmentName once its import is done.
std::vector<EmlWrittenAttachment> emlWriteAttachments(
    const EmlMessage& message, const std::string& directory, const std::string& parentReference,
    long parentDate, const std::string& parentDateText, const EmlNeedsFile& needsFile = {});

// Gives up the names an attachment holds and drops its side file from memory.
void emlReleaseAttachmentName(const EmlWrittenAttachment& attachment);

// Line ends of a text as bare LF (CR LF and lone CR both become LF).
std::string emlNormalizeLineEnds(std::string_view text);
