// The news article importer.
#include "import/nntpparse.h"

#include "import/charset.h"
#include "import/emlimport.h"
#include "import/emlparse.h"
#include "import/idxreader.h"
#include "import/importargs.h"
#include "import/importimpl.h"
#include "import/importlog.h"
#include "import/readfile.h"
#include "support/fileutil.h"

namespace {

// The value of the header line that starts with name (exact, case-sensitive) within
// the header block, up to its line end.
std::optional<std::string> headerValue(std::string_view block, std::string_view name) {
    size_t pos = 0;
    while (pos < block.size()) {
        size_t nl = block.find('\n', pos);
        size_t end = nl == std::string_view::npos ? block.size() : nl;
        std::string_view line = block.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.substr(0, name.size()) == name) return std::string(line.substr(name.size()));
        pos = end + 1;
    }
    return std::nullopt;
}

}  // namespace

NntpArticle nntpParseArticle(std::string_view text) {
    NntpArticle a;
    std::string_view block = text;
    size_t headerEnd = text.find("\r\n\r\n");
    if (headerEnd != std::string_view::npos) {
        block = text.substr(0, headerEnd);
        size_t end = text.find("\r\n.\r\n", headerEnd + 2);
        if (end != std::string_view::npos)
            a.body =
                std::string(end > headerEnd + 4 ? text.substr(headerEnd + 4, end - headerEnd - 4)
                                                : std::string_view());
    } else if ((headerEnd = text.find("\n\n")) != std::string_view::npos) {
        block = text.substr(0, headerEnd);
        size_t end = text.find("\n.\n", headerEnd + 1);
        if (end != std::string_view::npos)
            a.body =
                std::string(end > headerEnd + 2 ? text.substr(headerEnd + 2, end - headerEnd - 2)
                                                : std::string_view());
    }
    a.from = headerValue(block, "From: ");
    a.newsgroups = headerValue(block, "Newsgroups: ");
    a.subject = headerValue(block, "Subject: ");
    a.date = headerValue(block, "Date: ");
    a.organization = headerValue(block, "Organization: ");
    a.lines = headerValue(block, "Lines: ");
    a.messageId = headerValue(block, "Message-ID: ");
    a.references = headerValue(block, "References: ");
    a.postingHost = headerValue(block, "NNTP-Posting-Host: ");
    a.path = headerValue(block, "Path: ");
    if (a.body) {
        std::optional<std::string> type = headerValue(block, "Content-Type: ");
        a.body = emlNormalizeLineEnds(
            charsetDocumentToWindows1252(*a.body, type ? charsetFromContentType(*type) : ""));
    }
    return a;
}

int nntpImportHandler(ImportContext* context, ImportArgs* args, char* fname, size_t,
                      const char* from, SrcFileSpec* sfs, ImportEntry*) {
    ASSERT_a(fname != NULL);
    ASSERT_a(from != NULL);
    ASSERT_a(sfs != NULL);
    std::string raw;
    if (!importReadWholeFile(from, raw) || raw.empty()) {
        importAddError(context, -6, -3, "NNTP parser: Couldn't read file", from);
        return -8;
    }
    NntpArticle a = nntpParseArticle(raw);

    srcFileSpecSetFilename(sfs, from);
    std::optional<std::string> subject, sender;
    if (a.subject) subject = emlDecodeHeaderText(*a.subject);
    if (a.from) sender = emlDecodeHeaderText(*a.from);
    if (subject) srcFileSpecSetTitle(sfs, subject->c_str());
    if (a.date) srcFileSpecSetDate(sfs, a.date->c_str());
    if (a.messageId) srcFileSpecSetReference(sfs, a.messageId->c_str());
    if (a.body) srcFileSpecSetContent(sfs, std::move(*a.body));

    const IdxRemapTable remap = args->remapTable();
    const std::pair<const char*, const std::optional<std::string>*> fields[] = {
        {"FROM", &sender},
        {"NEWSGROUPS", &a.newsgroups},
        {"SUBJECT", &subject},
        {"DATE", &a.date},
        {"ORGANIZATION", &a.organization},
        {"LINES", &a.lines},
        {"MESSAGE_ID", &a.messageId},
        {"REFERENCES", &a.references},
        {"NNTP_POSTING_HOST", &a.postingHost},
        {"PATH", &a.path},
    };
    for (const auto& [name, value] : fields)
        if (*value) srcFileSpecSetFieldRemapped(&remap, sfs, name, (*value)->c_str());

    const std::string side = idxSideFileName(from);
    IdxReadOptions options;
    options.remap = &remap;
    if (const std::string* held = importHeldSideFile(side))
        idxReadDocument(sfs, std::string_view(*held), &options);
    else if (fileExists(side.c_str()) == 0)
        idxReadDocumentFile(sfs, side.c_str(), &options);
    return 0;
}
