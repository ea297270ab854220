// The XML importer and the helpers it shares with the delimited importer. Each rule of
// the arguments finds a node by its tag sequence and stores the node's printout under
// the rule's field name; the document is written to a temporary ".ndx" file and
// imported through the per-document flow.
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

// Writes spec to file (text form, replacing the file). False when it cannot.
bool importWriteTempDocument(const SrcFileSpec& spec, const std::string& file);
