#include "windows/registry.h"

#include <atomic>

namespace korba {

namespace {
std::atomic<Registry*> replacement_registry{nullptr};
}  // namespace

Registry& registry() {
    Registry* replacement = replacement_registry.load();
    return replacement ? *replacement : system_registry();
}

void set_registry(Registry* replacement) { replacement_registry.store(replacement); }

}  // namespace korba
