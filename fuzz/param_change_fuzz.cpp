// Any parameter-change notice (sub-type word, then data) applied to a
// session's caches, then read back through every getter a program uses.
#include <cstddef>
#include <cstdint>

#include "byte_order.h"
#include "fuzz_session.h"
#include "param_change.h"
#include "session_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    // Nothing listens there: a getter whose cache the notice left empty
    // asks the module and is refused at once.
    fuzzing::FuzzSession session("127.14.0.9", 9);
    apply_param_change(&session.context(), get_u32le(data), data + 4, static_cast<uint32_t>(size - 4));
    for (const fuzzing::SessionReader &reader : fuzzing::kSessionReaders)
        reader.read(session.handle());
    return 0;
}
