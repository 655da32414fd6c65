/* Must not compile: with every uint32_t widened the records grow, and the
 * header's own size checks have to stop the build under strict C99. */
#include <stdint.h>
#define uint32_t uint64_t
#include "qrn_net.h"

int main(void)
{
    return 0;
}
