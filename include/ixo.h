/* libixo: the retrieval-server client. One header for callers; it gathers the parts
 * of the interface (handle and transport, results, query text, cache, requests). */
#ifndef SAPIOLUX_IXO_H
#define SAPIOLUX_IXO_H

#include "memutil.h"
#include "sapiolux_version.h"

#include "ixo_api.h"
#include "ixo_cache.h"
#include "ixo_index.h"
#include "ixo_info.h"
#include "ixo_query.h"
#include "ixo_results.h"
#include "ixo_text.h"

#endif
