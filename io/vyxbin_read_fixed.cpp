// The fixed record reader.
#include "io/vyxbin_internal.h"
#include "io/vyxbin_records.h"
#include "runtime/raise.h"

namespace vyx::vyxbin {

const uint8_t* decode_fixed(DecodeState& s, const uint8_t* p, const uint8_t* end, bool symbols) {
    s.invalid(p);
}

}  // namespace vyx::vyxbin
