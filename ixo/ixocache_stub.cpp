// Placeholder for the client result cache's destroy hook until the cache module
// lands; the cache module replaces this file with its real definition. Without that
// module nothing creates a cache, so there is nothing to release here.
#include "ixo/ixocache_hook.h"

extern "C" void ixoCacheDestroyForHandle(IXO* ixo) {
    if (ixo == nullptr) return;
    ixo->clientCache = nullptr;
    ixo->cacheLock = nullptr;
}
