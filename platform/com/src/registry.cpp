#include "com/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace avs::com {
namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Creates every missing directory of `dir`.
void MakeDirs(const std::string& dir) {
    std::string part;
    for (size_t i = 0; i < dir.size(); ++i) {
        part.push_back(dir[i]);
        if ((dir[i] == '/' && i > 0) || i + 1 == dir.size()) ::mkdir(part.c_str(), 0755);
    }
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Holds an flock on "<path>.lock" for the lifetime of the object.
class FileLock {
  public:
    FileLock(const std::string& path, bool exclusive) {
        MakeDirs(DirOf(path));
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0) {
            while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

// Reads a quoted string starting at line[pos] == '"'; advances pos past the closing quote.
bool Unquote(const std::string& line, size_t* pos, std::string* out) {
    if (*pos >= line.size() || line[*pos] != '"') return false;
    out->clear();
    for (size_t i = *pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= line.size()) return false;
            char e = line[++i];
            out->push_back(e == 'n' ? '\n' : e);
        } else {
            out->push_back(c);
        }
    }
    return false;
}

HRESULT ReadFile(const std::string& path, RegistryTree* out) {
    out->clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return S_OK;  // no file yet: an empty store
    std::stringstream ss;
    ss << in.rdbuf();
    if (!RegistryStore::Parse(ss.str(), out)) return REGDB_E_READREGDB;
    return S_OK;
}

HRESULT WriteFile(const std::string& path, const RegistryTree& tree) {
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream os(tmp, std::ios::binary | std::ios::trunc);
        if (!os) return REGDB_E_WRITEREGDB;
        os << RegistryStore::Serialize(tree);
        os.flush();
        if (!os) {
            ::unlink(tmp.c_str());
            return REGDB_E_WRITEREGDB;
        }
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return REGDB_E_WRITEREGDB;
    }
    return S_OK;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char x = Lower(a[i]), y = Lower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

std::string RegistryStore::DefaultPath() {
    if (const char* p = std::getenv("AVS_REGISTRY"); p != nullptr && *p != '\0') return p;
    std::string base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0') {
        base = x;
    } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
        base = std::string(h) + "/.local/share";
    } else {
        base = "/tmp";
    }
    return base + "/avs-toolset/registry.reg";
}

RegistryStore::RegistryStore(std::string path) : path_(std::move(path)) {}

HRESULT RegistryStore::Update(const std::function<bool(RegistryTree&)>& change) {
    FileLock lock(path_, true);
    if (!lock.ok()) return REGDB_E_WRITEREGDB;
    RegistryTree tree;
    HRESULT hr = ReadFile(path_, &tree);
    if (FAILED(hr)) return hr;
    if (!change(tree)) return S_FALSE;
    return WriteFile(path_, tree);
}

HRESULT RegistryStore::Read(RegistryTree* out) const {
    // A missing lock folder means no store yet; do not create folders just to read.
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        out->clear();
        return S_OK;
    }
    FileLock lock(path_, false);
    return ReadFile(path_, out);
}

HRESULT RegistryStore::SetValue(const std::string& key, const std::string& name,
                                const std::string& value) {
    return Update([&](RegistryTree& t) {
        t[key][name] = value;
        return true;
    });
}

std::optional<std::string> RegistryStore::GetValue(const std::string& key,
                                                   const std::string& name) const {
    RegistryTree t;
    if (FAILED(Read(&t))) return std::nullopt;
    auto k = t.find(key);
    if (k == t.end()) return std::nullopt;
    auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    return v->second;
}

bool RegistryStore::KeyExists(const std::string& key) const {
    RegistryTree t;
    if (FAILED(Read(&t))) return false;
    return t.count(key) != 0;
}

HRESULT RegistryStore::DeleteTree(const std::string& key) {
    bool found = false;
    HRESULT hr = Update([&](RegistryTree& t) {
        std::string prefix = key + "\\";
        for (auto it = t.begin(); it != t.end();) {
            const std::string& k = it->first;
            bool below = k.size() > prefix.size() &&
                         !CaseInsensitiveLess()(k.substr(0, prefix.size()), prefix) &&
                         !CaseInsensitiveLess()(prefix, k.substr(0, prefix.size()));
            bool same = !CaseInsensitiveLess()(k, key) && !CaseInsensitiveLess()(key, k);
            if (below || same) {
                it = t.erase(it);
                found = true;
            } else {
                ++it;
            }
        }
        return found;
    });
    if (FAILED(hr)) return hr;
    return found ? S_OK : S_FALSE;
}

std::vector<std::string> SubKeysOf(const RegistryTree& tree, const std::string& key) {
    std::vector<std::string> out;
    std::set<std::string, CaseInsensitiveLess> seen;
    std::string prefix = key + "\\";
    CaseInsensitiveLess less;
    auto same = [&](const std::string& a, const std::string& b) {
        return !less(a, b) && !less(b, a);
    };
    // Keys below `prefix` sort contiguously right after it (in an order where "K1\\x"
    // may follow "K10", hence the set).
    for (auto it = tree.lower_bound(prefix); it != tree.end(); ++it) {
        const std::string& k = it->first;
        if (k.size() <= prefix.size() || !same(k.substr(0, prefix.size()), prefix)) break;
        std::string rest = k.substr(prefix.size());
        std::string name = rest.substr(0, rest.find('\\'));
        if (seen.insert(name).second) out.push_back(name);
    }
    std::sort(out.begin(), out.end(), less);
    return out;
}

std::vector<std::string> RegistryStore::SubKeys(const std::string& key) const {
    RegistryTree t;
    if (FAILED(Read(&t))) return {};
    return SubKeysOf(t, key);
}

std::string RegistryStore::Serialize(const RegistryTree& tree) {
    std::string out = "AVS Registry 1\n";
    for (const auto& [key, values] : tree) {
        out += "\n[" + key + "]\n";
        for (const auto& [name, value] : values) {
            out += name.empty() ? std::string("@") : Quote(name);
            out += "=" + Quote(value) + "\n";
        }
    }
    return out;
}

bool RegistryStore::Parse(const std::string& text, RegistryTree* out) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "AVS Registry 1") return text.empty();
    RegistryValues* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.front() == '[') {
            if (line.size() < 3 || line.back() != ']') return false;
            current = &(*out)[line.substr(1, line.size() - 2)];
            continue;
        }
        if (current == nullptr) return false;
        std::string name, value;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!Unquote(line, &pos, &name)) {
            return false;
        }
        if (pos >= line.size() || line[pos] != '=') return false;
        ++pos;
        if (!Unquote(line, &pos, &value) || pos != line.size()) return false;
        (*current)[name] = value;
    }
    return true;
}

}  // namespace avs::com
