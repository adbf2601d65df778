// The processors of a launcher's children, from HERDLAB_CPUS and the
// launcher's own affinity mask.
#include "cpus_unit.h"

#include <cstdlib>

#include "number_text_unit.h"

namespace {

// As many processors as a mask can name: one processor group on Windows.
constexpr std::int32_t kMostProcessors = 64;

DWORD_PTR ReadChildProcessorMask() {
    const std::int32_t count = ParseSettingNumber(std::getenv("HERDLAB_CPUS"), kMostProcessors);
    if (count == 0) {
        return 0;
    }
    DWORD_PTR own = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &own, &system)) {
        return 0;
    }
    return FirstProcessors(own, count);
}

}  // namespace

DWORD_PTR FirstProcessors(DWORD_PTR allowed, std::int32_t count) {
    DWORD_PTR chosen = 0;
    for (DWORD_PTR rest = allowed; rest != 0 && count > 0; --count) {
        const DWORD_PTR lowest = rest & (~rest + 1);
        chosen |= lowest;
        rest &= ~lowest;
    }
    return chosen;
}

DWORD_PTR ChildProcessorMask() {
    static const DWORD_PTR mask = ReadChildProcessorMask();
    return mask;
}
