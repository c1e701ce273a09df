// The registry store: a small file-backed stand-in for the Windows registry, holding keys
// (backslash-separated paths, compared without regard to case) with named string values.
// The empty value name is the key's default value.
//
// The file lives at $AVS_REGISTRY, else $XDG_DATA_HOME/avs-toolset/registry.reg, else
// ~/.local/share/avs-toolset/registry.reg. Every change runs as one transaction under an
// exclusive lock on "<file>.lock" and replaces the file atomically, so processes that
// register modules at the same time do not lose each other's keys.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "com/hresult.h"

namespace avs::com {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// The whole content: key path -> (value name -> value). A key may exist with no values.
using RegistryValues = std::map<std::string, std::string, CaseInsensitiveLess>;
using RegistryTree = std::map<std::string, RegistryValues, CaseInsensitiveLess>;

class RegistryStore {
  public:
    // The path the store uses now (environment read on every call, so tests can switch).
    static std::string DefaultPath();

    explicit RegistryStore(std::string path = DefaultPath());
    const std::string& path() const { return path_; }

    // Runs `change` on the current content and writes the result, all under the lock.
    // `change` returns false to abandon the transaction without writing.
    HRESULT Update(const std::function<bool(RegistryTree&)>& change);
    // Reads the current content under a shared lock; an absent file is an empty store.
    HRESULT Read(RegistryTree* out) const;

    // Conveniences built on the two above.
    HRESULT SetValue(const std::string& key, const std::string& name, const std::string& value);
    std::optional<std::string> GetValue(const std::string& key, const std::string& name) const;
    bool KeyExists(const std::string& key) const;
    // Removes the key and every key below it; S_FALSE when there was none.
    HRESULT DeleteTree(const std::string& key);
    // Names (last path element) of the direct sub-keys.
    std::vector<std::string> SubKeys(const std::string& key) const;

    // Text form used in the file (exposed for tests and tools).
    static std::string Serialize(const RegistryTree& tree);
    // Returns false on malformed text and leaves `out` holding what parsed before it.
    static bool Parse(const std::string& text, RegistryTree* out);

  private:
    std::string path_;
};

// Returns the direct sub-key names of `key` in `tree`.
std::vector<std::string> SubKeysOf(const RegistryTree& tree, const std::string& key);

}  // namespace avs::com
