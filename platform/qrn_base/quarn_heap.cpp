#include "qrn_base.h"

#include <malloc.h>

size_t quarn_heap_block_size(void *block)
{
    if (!block)
        return 0;
#ifdef _WIN32
    return _msize(block);
#else
    return malloc_usable_size(block);
#endif
}
