// The protection line herdcheck prints on Linux: what is contained follows
// from what the machine and this build offer, and every protection missing
// is named, whether the machine lacks it or herdcheck was built without it.
#include <string>

#include <gtest/gtest.h>

#include "herdlab_toolkit.h"
#include "keeper_linux.h"

namespace {

// The line after its fixed start (the limits of processes and memory), in UTF-8.
std::string ProtectionsOf(const SandboxSupport& support) {
    const std::string line = herdlab_toolkit::Utf8FromCp1251(ProtectionLine(support));
    const std::string fixedPart = "ничего не остаётся после проверки";
    const std::size_t at = line.find(fixedPart);
    return at == std::string::npos ? "no fixed part: " + line : line.substr(at + fixedPart.size());
}

TEST(ProtectionLine, NamesWhatTheMachineOrTheBuildLacks) {
    const std::string noNamespaces =
        "нет пространств имён: сеть по UDP открыта, процессы ищутся по родителям";
    const std::string noWatchBuilt =
        "нет слежения за вызовами (herdcheck собран без libseccomp): попытки сети и записи не "
        "видны";
    const struct {
        SandboxSupport support;  // namespaces, Landlock ABI, seccomp, call watch built
        std::string protections;
    } cases[] = {
        {{true, 6, true, true}, ", запись только в свою папку, без сети"},
        // Built without the watch: named, whatever the machine's seccomp.
        {{true, 6, true, false},
         ", запись только в свою папку, без сети; не хватает: " + noWatchBuilt},
        {{true, 6, false, false},
         ", запись только в свою папку, без сети; не хватает: " + noWatchBuilt},
        // Without namespaces only the watch refuses sockets: no "без сети" without it.
        {{false, 6, true, false},
         ", запись только в свою папку; не хватает: " + noNamespaces + "; " + noWatchBuilt},
        {{false, 6, true, true},
         ", запись только в свою папку, без сети; не хватает: " + noNamespaces},
        {{false, 3, false, true},
         ", запись только в свою папку; не хватает: " + noNamespaces +
             "; Landlock без сети; нет seccomp: попытки сети и записи не видны"},
        {{true, 0, true, true},
         ", без сети; не хватает: нет Landlock: запись вне папки не запрещена"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "namespaces " << c.support.namespaces << ", Landlock "
                     << c.support.landlockAbi << ", seccomp " << c.support.seccomp
                     << ", watch built " << c.support.callWatchBuilt);
        EXPECT_EQ(ProtectionsOf(c.support), c.protections);
    }
}

}  // namespace
