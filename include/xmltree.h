/* A small in-memory XML element tree: load a file, walk to a node by a sequence of tag
 * names, print a node back as XML, as plain text or as one attribute's value.
 *
 * Every string in a node is owned by the node. Children stand in document order.
 * Text nodes hold the character data of one parser callback; a callback whose text is
 * only blanks, tabs, CR and LF gives a text node holding one blank. Building, freeing,
 * searching and printing never recurse, so trees of any depth are handled. */
#ifndef SAPIOLUX_XMLTREE_H
#define SAPIOLUX_XMLTREE_H

#include "memutil.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct XmlAttribute {
    char* name;
    char* value;
    struct XmlAttribute* next; /* document order */
} XmlAttribute;

typedef struct XmlNode {
    char* tagName;            /* element name; null for a text node */
    char* text;               /* character data; null for an element */
    XmlAttribute* attributes; /* singly linked, document order */
    struct XmlNode* firstChild;
    struct XmlNode* nextSibling;
    struct XmlNode* parent;
    struct XmlNode* lastChild; /* kept by the builder so appending stays cheap */
} XmlNode;

/* Builds the tree of fileName. *node must be null on entry. 0 on success with *node
 * set to the root element; 1 on a parse error (a file that cannot be read counts as
 * empty, which is an error), after writing " XML ERROR in file:%s - %s at line %d" to
 * the import log. After an error *node holds whatever was built (its root, or null);
 * free it with xmlDestroyTree. 1 without touching anything for a null argument or a
 * non-null *node. */
SAPIOLUX_EXPORT int xmlMakeTree(XmlNode** node, const char* fileName);

/* Frees the node, its attributes, all its descendants and all its following siblings.
 * Null is harmless. Returns 0. */
SAPIOLUX_EXPORT int xmlDestroyTree(XmlNode* node);

/* Walks from node through each tag in turn (tag names compared without regard to
 * case). Each step searches the current node, its descendants and its following
 * siblings depth first; a step that misses goes on from the next sibling of the current
 * node's parent. The node reached, or null. A count below 1 returns node. */
SAPIOLUX_EXPORT XmlNode* xmlGetNodewithTagSequence(XmlNode* node, char** tags, int count);

/* A new string (release with memFree):
 * - attributeName not null or empty: the value of the node's first attribute of that
 *   name (case-blind), then the same for each following sibling; "" when none has it;
 * - else contentOnly not 0: the node's own text, then its children;
 * - else the node itself.
 * With textOnly 0 elements print as markup ("<tag a=\"v\">...</tag>", or "<tag/>"
 * without children); with textOnly not 0 an element prints " " + children + " " (or
 * one blank without children). Text and attribute values print as stored (no
 * escaping). A null node gives "". Null only when memory runs out. */
SAPIOLUX_EXPORT char* xmlPrintNodetoString(XmlNode* node, int textOnly, int contentOnly,
                                           const char* attributeName);

#ifdef __cplusplus
}
#endif

#endif
