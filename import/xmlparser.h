// The XML importer and the helpers it shares with the delimited importer. Each rule of
// the arguments finds a node by its tag sequence and stores the node's printout under
// the rule's field name; the document is imported through the per-document flow, with
// the file's name as its reference unless a rule sets one.
#pragma once

#include <cstddef>

#include "import/importctrl.h"

// Registry handler for the extensions configured under ImportXMLExtns. 0, or -1 when
// the file cannot be built into a tree.
int importXmlHandler(ImportContext* context, ImportArgs* args, char* nameCopy, size_t nameCopySize,
                     const char* name, SrcFileSpec* spec, ImportEntry* entry);

// Stores value under a field name: the IXO names set the document's own values
// ("IXOREFERENCE", "IXOTITLE", "IXOCONTENT", "IXODATE", "IXODBNAME", "IXOFILENAME",
// "IXOSTORECONTENT", "IXOTYPE", "IXOSECTION" in decimal); any other name is a field.
void importSetNamedValue(SrcFileSpec* spec, const std::string& name, const std::string& value);

// Imports a document made from part of the file source through the per-document flow,
// held in memory as IDX text (no file is written). A document that names no reference
// gets reference. False when the text cannot be built.
bool importImportDocument(ImportContext* context, ImportArgs* args, const char* source,
                          const SrcFileSpec& document, const std::string& reference);
