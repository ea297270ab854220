// What a click on a suggestion opens. A result's address comes from a server (its name,
// a "ContactRef" another user wrote, a generated link from configured prefixes), so only
// safe targets are handed to the desktop: http, https and ftp addresses, mailto, and
// existing local files that are not programs, always as file:// URLs. Everything else is
// refused with a status-line message; nothing reaches a shell.
#pragma once

#include <string>

#include "agent/mapurl.h"
#include "ixo.h"

namespace platform {
class DocumentOpener;
}

namespace agent {

class CAppParameters;

// Status-line texts.
inline constexpr const char* kTextNoContact = "No contact details for this person.";
inline constexpr const char* kTextUnsafeAddress =
    "Not opened: the address is not a web page, mail address or document.";
inline constexpr const char* kTextUnsafeFile =
    "Not opened: the file does not exist or is a program.";
inline constexpr const char* kTextNoOpener =
    "Could not open the document: no program to open it was found (xdg-open).";
inline constexpr const char* kTextMailUnknown =
    "Could not open the message: its mail program is not known.";
inline constexpr const char* kTextMailNotFound =
    "Could not open the message: it was not found in its mail program's store.";
// Followed by the file the message was written to.
inline constexpr const char* kTextMailNotOpened = "Could not open the message saved in ";

enum class OpenKind {
    Nothing,  // nothing to do (an empty address)
    Url,      // hand target (a safe URL) to the desktop
    Mail,     // open the mail reference target in process through the mail fetchers
    Status,   // show target on the status line
};

struct OpenAction {
    OpenKind kind = OpenKind::Nothing;
    std::string target;
};

struct OpenSettings {
    UrlRules rules;
    bool useDocIdAsName = false;
    std::string personalPath;  // the personal server's folder (mail fetch directory)

    static OpenSettings fromParameters(const CAppParameters& settings);
};

// The value of a record's first further field called name (any case), or null.
const char* recordField(const IxoResultRecord& record, const char* name);

// The address as a URL the desktop may open (Url), or the refusal (Status); Nothing for
// an empty address. An absolute local path becomes a file:// URL.
OpenAction checkTarget(const std::string& address);

// A local path as a file:// URL (bytes other than letters, digits, "/", "-", ".", "_"
// and "~" percent-encoded).
std::string fileUrl(const std::string& path);

// What a click on record does: an "EMAIL" record opens its mail reference, a "PEOPLE"
// record "mailto:" its "ContactRef" (or the contact as it is when it is an address), any
// other the record's name (or document id) after the URL rules.
OpenAction decideOpen(const IxoResultRecord& record, const OpenSettings& settings);

// Opens a mail reference: the fetcher of its mail program writes the message to a
// temporary file, which the opener receives as a file:// URL. Empty on success, else
// the status-line text. fetchDirectory is used only when it exists.
std::string openMailReference(const std::string& reference, const std::string& fetchDirectory,
                              platform::DocumentOpener& opener);

// Carries out action; the status-line text to show, empty when there is none.
std::string carryOut(const OpenAction& action, const OpenSettings& settings,
                     platform::DocumentOpener& opener);

// A click on a result, decided and carried out.
std::string openResult(const IxoResultRecord& record, const OpenSettings& settings,
                       platform::DocumentOpener& opener);

}  // namespace agent
