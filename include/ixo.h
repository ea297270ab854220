/* libixo: the retrieval-server client. One header for callers; it gathers the parts
 * of the interface (handle and transport, results, query text, cache, requests). */
#ifndef SAPIOLUX_IXO_H
#define SAPIOLUX_IXO_H

#include "memutil.h"

#if __has_include("ixo/ixoapi.h")
#include "ixo/ixoapi.h"
#endif
#if __has_include("ixo/ixoresults.h")
#include "ixo/ixoresults.h"
#endif
#if __has_include("ixo/ixotext.h")
#include "ixo/ixotext.h"
#endif
#if __has_include("ixo/ixocache.h")
#include "ixo/ixocache.h"
#endif
#if __has_include("ixo/ixoquery.h")
#include "ixo/ixoquery.h"
#endif
#if __has_include("ixo/ixoindex.h")
#include "ixo/ixoindex.h"
#endif
#if __has_include("ixo/ixoinfo.h")
#include "ixo/ixoinfo.h"
#endif

#endif
