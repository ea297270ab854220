// Query-text processing inside libixo; the exported interface is include/ixo_text.h.
#ifndef SAPIOLUX_IXO_IXOTEXT_H
#define SAPIOLUX_IXO_IXOTEXT_H

#include "ixo_text.h"

#endif
