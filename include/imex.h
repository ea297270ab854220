/* libimex: the document-import library. One header for callers; it gathers the parts
 * of the interface that exist (arguments, import control, IDX structures, ...). */
#ifndef SAPIOLUX_IMEX_H
#define SAPIOLUX_IMEX_H

#include "memutil.h"

#if __has_include("imex_args.h")
#include "imex_args.h"
#endif
#if __has_include("imex_ctrl.h")
#include "imex_ctrl.h"
#endif
#if __has_include("imex_idx.h")
#include "imex_idx.h"
#endif
#if __has_include("imex_html.h")
#include "imex_html.h"
#endif
#if __has_include("imex_summary.h")
#include "imex_summary.h"
#endif
#if __has_include("imex_mail.h")
#include "imex_mail.h"
#endif
#if __has_include("imex_xml.h")
#include "imex_xml.h"
#endif

#endif
