// The XML element tree on expat. The parser's user data is the address of the current
// node pointer, which is the caller's own pointer: when parsing ends it holds the root.
#include "xmltree.h"

#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "import/importlog.h"
#include "import/readfile.h"

namespace {

// Bytes handed to expat per call; the whole file is still one document.
constexpr size_t kParseChunk = size_t{1} << 26;

char* copyText(const char* text, size_t length) {
    char* out = static_cast<char*>(memAlloc(length + 1));
    if (out && length) std::memcpy(out, text, length);
    return out;
}

void freeAttributes(XmlAttribute* a) {
    while (a) {
        XmlAttribute* next = a->next;
        if (a->name) memFree(a->name);
        if (a->value) memFree(a->value);
        memFree(a);
        a = next;
    }
}

void appendChild(XmlNode* parent, XmlNode* child) {
    child->parent = parent;
    if (!parent) return;
    if (parent->lastChild) {
        parent->lastChild->nextSibling = child;
    } else {
        // A tree built elsewhere may not keep lastChild: find the end the slow way.
        XmlNode* last = parent->firstChild;
        while (last && last->nextSibling) last = last->nextSibling;
        if (last)
            last->nextSibling = child;
        else
            parent->firstChild = child;
    }
    parent->lastChild = child;
}

struct BuildState {
    XmlNode** current;
    int depth = 0;        // open elements; text outside the root element is dropped
    std::string pending;  // character data since the last element event
    bool outOfMemory = false;
};

// Appends a text node for text (one blank when it is only white space).
void addText(BuildState* st, const char* s, size_t len);

// Expat splits one run of character data at line ends and entity references; the run
// becomes one text node, so white space between two tags is always a single blank.
void flushPending(BuildState* st) {
    if (st->pending.empty()) return;
    addText(st, st->pending.data(), st->pending.size());
    st->pending.clear();
}

void XMLCALL onStart(void* user, const XML_Char* name, const XML_Char** attrs) {
    auto* st = static_cast<BuildState*>(user);
    flushPending(st);
    ++st->depth;
    auto* node = static_cast<XmlNode*>(memAlloc(sizeof(XmlNode)));
    if (!node || !(node->tagName = memStrDup(name))) {
        if (node) memFree(node);
        st->outOfMemory = true;
        return;
    }
    XmlAttribute** tail = &node->attributes;
    for (int i = 0; attrs && attrs[i] && attrs[i + 1]; i += 2) {
        auto* a = static_cast<XmlAttribute*>(memAlloc(sizeof(XmlAttribute)));
        if (!a) {
            st->outOfMemory = true;
            break;
        }
        a->name = memStrDup(attrs[i]);
        a->value = memStrDup(attrs[i + 1]);
        *tail = a;
        tail = &a->next;
        if (!a->name || !a->value) {
            st->outOfMemory = true;
            break;
        }
    }
    appendChild(*st->current, node);
    *st->current = node;
}

void XMLCALL onEnd(void* user, const XML_Char*) {
    auto* st = static_cast<BuildState*>(user);
    flushPending(st);
    --st->depth;
    XmlNode* cur = *st->current;
    // The root has no parent and stays current.
    if (cur && cur->parent) *st->current = cur->parent;
}

bool onlyWhitespace(const char* s, size_t len) {
    for (size_t i = 0; i < len; ++i)
        if (s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '\n') return false;
    return true;
}

void addText(BuildState* st, const char* s, size_t len) {
    XmlNode* cur = *st->current;
    if (!cur) return;
    auto* node = static_cast<XmlNode*>(memAlloc(sizeof(XmlNode)));
    if (!node) {
        st->outOfMemory = true;
        return;
    }
    node->text = onlyWhitespace(s, len) ? copyText(" ", 1) : copyText(s, len);
    if (!node->text) {
        memFree(node);
        st->outOfMemory = true;
        return;
    }
    appendChild(cur, node);
}

void XMLCALL onCharacters(void* user, const XML_Char* s, int len) {
    auto* st = static_cast<BuildState*>(user);
    if (st->depth <= 0 || len <= 0) return;
    st->pending.append(s, static_cast<size_t>(len));
}

// Everything else expat reports (comments, declarations, unexpanded entities) becomes
// a text node of its own, inside the root element only.
void XMLCALL onOther(void* user, const XML_Char* s, int len) {
    auto* st = static_cast<BuildState*>(user);
    if (st->depth <= 0 || len <= 0) return;
    flushPending(st);
    addText(st, s, static_cast<size_t>(len));
}

bool equalsNoCase(const char* a, const char* b) {
    if (!a || !b) return false;
    for (; *a && *b; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return *a == *b;
}

// Depth-first search of start, its descendants and its following siblings (with their
// descendants) for an element named tag. Walks with the parent pointers, so the depth
// of the tree costs no stack.
XmlNode* findTag(XmlNode* start, const char* tag) {
    if (!start) return nullptr;
    XmlNode* top = start->parent;
    XmlNode* cur = start;
    while (cur) {
        if (equalsNoCase(cur->tagName, tag)) return cur;
        if (cur->firstChild) {
            cur = cur->firstChild;
            continue;
        }
        while (cur && !cur->nextSibling) {
            cur = cur->parent;
            if (cur == top) return nullptr;
        }
        if (cur) cur = cur->nextSibling;
    }
    return nullptr;
}

void openElement(std::string& out, const XmlNode* n, bool textOnly) {
    if (textOnly) {
        out += ' ';
        return;
    }
    out += '<';
    out += n->tagName;
    for (const XmlAttribute* a = n->attributes; a; a = a->next) {
        out += ' ';
        out += a->name ? a->name : "";
        out += "=\"";
        out += a->value ? a->value : "";
        out += '"';
    }
    out += n->firstChild ? ">" : "/>";
}

void closeElement(std::string& out, const XmlNode* n, bool textOnly) {
    if (textOnly) {
        out += ' ';
        return;
    }
    out += "</";
    out += n->tagName;
    out += '>';
}

// Prints start and, when withSiblings is set, its following siblings, each with its
// descendants.
void printNodes(std::string& out, const XmlNode* start, bool textOnly, bool withSiblings) {
    if (!start) return;
    const XmlNode* top = start->parent;
    const XmlNode* cur = start;
    while (cur) {
        if (!cur->tagName) {
            if (cur->text) out += cur->text;
        } else {
            openElement(out, cur, textOnly);
            if (cur->firstChild) {
                cur = cur->firstChild;
                continue;
            }
        }
        // cur is finished: move on to its next sibling, closing parents on the way up.
        while (true) {
            if (cur == start && !withSiblings) return;
            if (cur->nextSibling) {
                cur = cur->nextSibling;
                break;
            }
            cur = cur->parent;
            if (!cur || cur == top) return;
            closeElement(out, cur, textOnly);
        }
    }
}

char* toOwned(const std::string& s) {
    return copyText(s.data(), s.size());
}

}  // namespace

extern "C" {

int xmlMakeTree(XmlNode** node, const char* fileName) {
    if (!node || *node || !fileName) return 1;
    try {
        std::string data;
        importReadWholeFile(fileName, data);  // unreadable: parsed as empty, an error below
        XML_Parser parser = XML_ParserCreate(nullptr);
        if (!parser) return 1;
        BuildState st;
        st.current = node;
        XML_SetUserData(parser, &st);
        XML_SetElementHandler(parser, onStart, onEnd);
        XML_SetCharacterDataHandler(parser, onCharacters);
        XML_SetDefaultHandler(parser, onOther);
        bool ok = true;
        size_t pos = 0;
        do {
            size_t n = std::min(kParseChunk, data.size() - pos);
            bool last = pos + n >= data.size();
            if (XML_Parse(parser, data.data() + pos, static_cast<int>(n), last) ==
                XML_STATUS_ERROR) {
                ok = false;
                break;
            }
            if (st.outOfMemory) {
                ok = false;
                break;
            }
            pos += n;
        } while (pos < data.size());
        if (!ok) {
            const char* why =
                st.outOfMemory ? "out of memory" : XML_ErrorString(XML_GetErrorCode(parser));
            importLog(1, " XML ERROR in file:%s - %s at line %d\n", fileName, why ? why : "",
                      static_cast<int>(XML_GetCurrentLineNumber(parser)));
            // The current node may be deep inside the tree: hand back its root so the
            // caller frees everything that was built.
            while (*node && (*node)->parent) *node = (*node)->parent;
        }
        XML_ParserFree(parser);
        return ok ? 0 : 1;
    } catch (...) {
        if (node) {
            while (*node && (*node)->parent) *node = (*node)->parent;
        }
        return 1;
    }
}

int xmlDestroyTree(XmlNode* node) {
    // Children are spliced in front of the following siblings, so the whole forest
    // becomes one list that is freed front to back.
    XmlNode* cur = node;
    while (cur) {
        if (cur->firstChild) {
            XmlNode* last = cur->firstChild;
            while (last->nextSibling) last = last->nextSibling;
            last->nextSibling = cur->nextSibling;
            cur->nextSibling = cur->firstChild;
            cur->firstChild = nullptr;
        }
        XmlNode* next = cur->nextSibling;
        if (cur->tagName) memFree(cur->tagName);
        if (cur->text) memFree(cur->text);
        freeAttributes(cur->attributes);
        memFree(cur);
        cur = next;
    }
    return 0;
}

XmlNode* xmlGetNodewithTagSequence(XmlNode* node, char** tags, int count) {
    if (count < 1) return node;
    if (!tags) return nullptr;
    XmlNode* current = node;
    for (int i = 0; i < count && current; ++i) {
        const char* tag = tags[i] ? tags[i] : "";
        XmlNode* hit = findTag(current, tag);
        while (!hit) {
            XmlNode* parent = current->parent;
            if (!parent || !parent->nextSibling) return nullptr;
            current = parent->nextSibling;
            hit = findTag(current, tag);
        }
        current = hit;
    }
    return current;
}

char* xmlPrintNodetoString(XmlNode* node, int textOnly, int contentOnly,
                           const char* attributeName) {
    try {
        std::string out;
        if (attributeName && *attributeName) {
            for (const XmlNode* n = node; n; n = n->nextSibling) {
                for (const XmlAttribute* a = n->attributes; a; a = a->next) {
                    if (equalsNoCase(a->name, attributeName)) {
                        if (a->value) out += a->value;
                        break;
                    }
                }
            }
        } else if (node && contentOnly) {
            if (node->text) out += node->text;
            printNodes(out, node->firstChild, textOnly != 0, true);
        } else {
            printNodes(out, node, textOnly != 0, false);
        }
        return toOwned(out);
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
