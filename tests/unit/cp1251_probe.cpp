// Compile probe: a text with a character that Windows-1251 lacks must not
// compile. Built only by the cp1251 compile tests (see CMakeLists.txt).
#include "cp1251_unit.h"

#ifdef HERDLAB_PROBE_MISSING_CHARACTER
constexpr std::string_view kProbe = "Снеговик ☃"_cp1251;
#else
constexpr std::string_view kProbe = "Снеговик Ёё№"_cp1251;
#endif

int main() {
    return kProbe.empty() ? 1 : 0;
}
