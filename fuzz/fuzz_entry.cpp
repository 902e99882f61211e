// libFuzzer entry point; FUZZ_BODY names the target body (fuzz_targets.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzz::FUZZ_BODY(data, size);
    return 0;
}
