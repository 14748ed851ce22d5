#pragma once

#include <cstddef>

namespace clearstrand::win32 {

// The system's calls that fill a buffer of the caller's size say, when it is
// too small, how large it must be. `call(buffer)` makes one such call and
// returns the size it asked for, or anything not larger than the buffer once
// it is done, whether it succeeded or not; the buffer grows until it is.
template <typename Buffer, typename Call>
void GrowUntilItFits(Buffer& buffer, Call call) {
    for (size_t needed = call(buffer); needed > buffer.size(); needed = call(buffer)) buffer.resize(needed);
}

}  // namespace clearstrand::win32
