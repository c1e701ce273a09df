// Fuzzes the registry store's text form and the GUID parser, the two readers of bytes
// that come from outside (a registry file on disk).
#include <cstddef>
#include <cstdint>
#include <string>

#include "com/guid.h"
#include "com/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    avs::com::RegistryTree tree;
    if (avs::com::RegistryStore::Parse(text, &tree)) {
        // Whatever parses must survive a round trip unchanged.
        avs::com::RegistryTree again;
        if (!avs::com::RegistryStore::Parse(avs::com::RegistryStore::Serialize(tree), &again) ||
            again != tree)
            __builtin_trap();
        for (const auto& [key, values] : tree) {
            (void)avs::com::SubKeysOf(tree, key);
            for (const auto& [name, value] : values)
                (void)avs::com::ParseGuid(std::string_view(value));
        }
    }
    (void)avs::com::ParseGuid(std::string_view(text));
    return 0;
}
