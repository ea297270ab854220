/* libimex: the document-import library. One header for callers; it gathers the parts
 * of the interface (arguments, import control, IDX structures, summaries). */
#ifndef SAPIOLUX_IMEX_H
#define SAPIOLUX_IMEX_H

#include "memutil.h"

#include "imex_args.h"
#include "imex_ctrl.h"
#include "imex_idx.h"
#include "imex_summary.h"

#endif
