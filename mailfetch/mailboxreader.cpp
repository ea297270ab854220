#include "mailfetch/mailboxreader.h"

#include "import/eudoraparse.h"
#include "import/mboxparse.h"
#include "import/oe5parse.h"
#include "import/outlookparse.h"

namespace mailfetch {

namespace {

std::string takeText(char* text) {
    std::string out = text ? text : "";
    if (text) memFree(text);
    return out;
}

// The readers share one shape: open, next (0 a message, End at the end, anything else a
// message that could not be read), current, reference, copy, close.
template <typename Box, typename Message, int End>
class Adapter : public MailboxReader {
  public:
    using OpenFn = int (*)(const char*, Box**);
    using NextFn = int (*)(Box*);
    using CurrentFn = const Message* (*)(const Box*);
    using ReferenceFn = char* (*)(const Box*);
    using CloseFn = void (*)(Box**);
    using CopyFn = int (*)(Box*, const char*, int32_t);

    Adapter(OpenFn open, NextFn next, CurrentFn current, ReferenceFn reference, CopyFn copy,
            CloseFn close)
        : open_(open),
          next_(next),
          current_(current),
          reference_(reference),
          copy_(copy),
          close_(close) {}
    ~Adapter() override { close_(&box_); }

    bool open(const std::string& path) override {
        close_(&box_);
        if (open_(path.c_str(), &box_) != 0) return false;
        next();  // an empty mailbox opens too; it just has no current message
        return true;
    }
    bool next() override {
        if (!box_) return false;
        int rc;
        while ((rc = next_(box_)) != End) {
            if (rc == 0) return true;
        }
        return false;
    }
    bool hasCurrent() const override { return box_ && current_(box_); }
    int64_t time() const override { return hasCurrent() ? current_(box_)->time : 0; }
    std::string reference() const override { return box_ ? takeText(reference_(box_)) : ""; }
    bool copy(const std::string& file, int32_t maxLength) override {
        return hasCurrent() && copy_(box_, file.c_str(), maxLength) == 0;
    }

  private:
    OpenFn open_;
    NextFn next_;
    CurrentFn current_;
    ReferenceFn reference_;
    CopyFn copy_;
    CloseFn close_;
    Box* box_ = nullptr;
};

int oe4OpenQuiet(const char* path, Oe4Mailbox** box) {
    return oe4Open(path, nullptr, box);
}
int oe5CopyAny(Oe5Mailbox* box, const char* file, int32_t) {
    return oe5CopyMessage(box, file);
}
int eudoraCopyWhole(EudoraMailbox* box, const char* file, int32_t) {
    return eudoraCopyMessage(box, file, 1);
}
int mboxCopyAny(MboxMailbox* box, const char* file, int32_t) {
    return mboxCopyMessage(box, file);
}
int maildirCopyAny(MaildirMailbox* box, const char* file, int32_t) {
    return maildirCopyMessage(box, file);
}

}  // namespace

std::unique_ptr<MailboxReader> createReader(const std::string& tag) {
    if (tag == OE4_TAG)
        return std::make_unique<Adapter<Oe4Mailbox, Oe4Message, OE4_END>>(
            oe4OpenQuiet, oe4NextMessage, oe4CurrentMessage, oe4MessageReference, oe4CopyMessage,
            oe4Close);
    if (tag == OE5_TAG)
        return std::make_unique<Adapter<Oe5Mailbox, Oe5Message, OE5_END>>(
            oe5Open, oe5NextMessage, oe5CurrentMessage, oe5MessageReference, oe5CopyAny, oe5Close);
    if (tag == EUDORA_TAG)
        return std::make_unique<Adapter<EudoraMailbox, EudoraMessage, EUDORA_END>>(
            eudoraOpen, eudoraNextMessage, eudoraCurrentMessage, eudoraMessageReference,
            eudoraCopyWhole, eudoraClose);
    if (tag == MBOX_TAG)
        return std::make_unique<Adapter<MboxMailbox, UnixMailMessage, UNIXMAIL_END>>(
            mboxOpen, mboxNextMessage, mboxCurrentMessage, mboxMessageReference, mboxCopyAny,
            mboxClose);
    if (tag == MAILDIR_TAG)
        return std::make_unique<Adapter<MaildirMailbox, UnixMailMessage, UNIXMAIL_END>>(
            maildirOpen, maildirNextMessage, maildirCurrentMessage, maildirMessageReference,
            maildirCopyAny, maildirClose);
    return nullptr;
}

bool findAndCopy(const std::string& tag, const std::string& reference, const std::string& file) {
    const char* r = reference.c_str();
    const char* f = file.c_str();
    if (tag == OE4_TAG) return oe4FindAndCopy(r, f) == OE4_OK;
    if (tag == OE5_TAG) return oe5FindAndCopy(r, f) == OE5_OK;
    if (tag == EUDORA_TAG) return eudoraFindAndCopy(r, f, 0) == EUDORA_OK;
    if (tag == MBOX_TAG) return mboxFindAndCopy(r, f) == UNIXMAIL_OK;
    if (tag == MAILDIR_TAG) return maildirFindAndCopy(r, f) == UNIXMAIL_OK;
    return false;
}

}  // namespace mailfetch
