#include "store/detail/RegistryHive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace pm::detail {

namespace {

constexpr std::string_view kMagic = "PictomoveRegistry 1";
constexpr std::uintmax_t kMaxFileSize = 64u << 20;
constexpr std::size_t kMaxKeyDepth = 512;

unsigned char fold(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Percent-escapes what would break a line, a field or a path.
std::string escape(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == '%' || c == '\\') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out += static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return true;
}

bool parseHexBytes(std::string_view text, std::vector<unsigned char>& out) {
    if (text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out.push_back(static_cast<unsigned char>(hi << 4 | lo));
    }
    return true;
}

std::string hexBytes(const std::vector<unsigned char>& data) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : data) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

// The registry file's text for one value's type and data.
const char* typeName(RegType t) {
    switch (t) {
        case RegType::Sz:
            return "sz";
        case RegType::Dword:
            return "dword";
        case RegType::Qword:
            return "qword";
        case RegType::Binary:
            break;
    }
    return "binary";
}

void serializeNode(const RegNode& node, const std::string& path, std::string& out) {
    out += "K " + path + "\n";
    for (const RegValue& v : node.values) {
        out += "V ";
        out += escape(v.name);
        out += ' ';
        out += typeName(v.type);
        out += ' ';
        if (v.type == RegType::Sz) {
            out += escape(
                std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size()));
        } else {
            out += hexBytes(v.data);
        }
        out += '\n';
    }
    for (const auto& child : node.children) {
        serializeNode(*child,
                      path.empty() ? escape(child->name) : path + "\\" + escape(child->name), out);
    }
}

std::mutex& cacheMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::weak_ptr<RegistryHive>>& cache() {
    static std::map<std::string, std::weak_ptr<RegistryHive>> c;
    return c;
}

}  // namespace

bool equalNoCase(std::string_view a, std::string_view b) {
    return compareNoCase(a, b) == 0;
}

int compareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = fold(static_cast<unsigned char>(a[i]));
        const unsigned char y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::shared_ptr<RegNode> RegNode::child(std::string_view childName) const {
    const auto it = std::lower_bound(children.begin(), children.end(), childName,
                                     [](const std::shared_ptr<RegNode>& n, std::string_view k) {
                                         return compareNoCase(n->name, k) < 0;
                                     });
    return it != children.end() && equalNoCase((*it)->name, childName) ? *it : nullptr;
}

RegValue* RegNode::value(std::string_view valueName) {
    for (RegValue& v : values) {
        if (equalNoCase(v.name, valueName)) {
            return &v;
        }
    }
    return nullptr;
}

void RegNode::addChild(std::shared_ptr<RegNode> node) {
    const auto it = std::lower_bound(children.begin(), children.end(), node->name,
                                     [](const std::shared_ptr<RegNode>& n, const std::string& k) {
                                         return compareNoCase(n->name, k) < 0;
                                     });
    children.insert(it, std::move(node));
}

void RegNode::markDeleted() {
    // Iterative, so that no depth of tree can exhaust the stack.
    std::vector<RegNode*> pending{this};
    while (!pending.empty()) {
        RegNode* n = pending.back();
        pending.pop_back();
        n->deleted = true;
        for (const auto& c : n->children) {
            pending.push_back(c.get());
        }
    }
}

RegistryHive::RegistryHive(std::filesystem::path file)
    : m_file(std::move(file)), m_root(std::make_shared<RegNode>()) {}

RegistryHive::~RegistryHive() {
    flush();
}

std::shared_ptr<RegistryHive> RegistryHive::open(const std::filesystem::path& file,
                                                 std::string& error) {
    const std::string key = std::filesystem::absolute(file).lexically_normal().string();
    std::lock_guard lock(cacheMutex());
    if (auto existing = cache()[key].lock()) {
        return existing;
    }
    std::shared_ptr<RegistryHive> hive(new RegistryHive(file));
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        const auto size = std::filesystem::file_size(file, ec);
        if (ec || size > kMaxFileSize) {
            error = file.string() + ": the registry file cannot be read or is too large";
            return nullptr;
        }
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) {
            error = file.string() + ": the registry file cannot be read";
            return nullptr;
        }
        std::string why;
        if (!parse(text.str(), *hive->m_root, why)) {
            error = file.string() + ": " + why;
            return nullptr;
        }
    }
    cache()[key] = hive;
    return hive;
}

std::string RegistryHive::serialize(const RegNode& root) {
    std::string out(kMagic);
    out += '\n';
    serializeNode(root, "", out);
    return out;
}

bool RegistryHive::parse(std::string_view text, RegNode& root, std::string& why) {
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    RegNode* current = &root;
    std::string name;
    std::string data;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        const auto bad = [&](const char* what) {
            why = "line " + std::to_string(lineNo) + ": " + what;
            return false;
        };
        if (lineNo == 1) {
            if (line != kMagic) {
                return bad("not a registry file");
            }
            continue;
        }
        if (line.empty()) {
            continue;
        }
        if (line.size() < 2 || line[1] != ' ') {
            return bad("unreadable line");
        }
        const std::string_view rest = line.substr(2);
        if (line[0] == 'K') {
            current = &root;
            std::size_t depth = 0;
            std::size_t p = 0;
            while (!rest.empty() && p <= rest.size()) {
                auto e = rest.find('\\', p);
                if (e == std::string_view::npos) {
                    e = rest.size();
                }
                if (!unescape(rest.substr(p, e - p), name) || name.empty() ||
                    ++depth > kMaxKeyDepth) {
                    return bad("bad key path");
                }
                auto child = current->child(name);
                if (!child) {
                    child = std::make_shared<RegNode>();
                    child->name = name;
                    current->addChild(child);
                }
                current = child.get();
                p = e + 1;
            }
        } else if (line[0] == 'V') {
            const auto s1 = rest.find(' ');
            const auto s2 = s1 == std::string_view::npos ? s1 : rest.find(' ', s1 + 1);
            if (s2 == std::string_view::npos || !unescape(rest.substr(0, s1), name)) {
                return bad("bad value line");
            }
            const std::string_view type = rest.substr(s1 + 1, s2 - s1 - 1);
            const std::string_view payload = rest.substr(s2 + 1);
            RegValue v;
            v.name = name;
            if (type == "sz") {
                if (!unescape(payload, data)) {
                    return bad("bad string");
                }
                v.type = RegType::Sz;
                v.data.assign(data.begin(), data.end());
            } else {
                v.type = type == "dword"    ? RegType::Dword
                         : type == "qword"  ? RegType::Qword
                         : type == "binary" ? RegType::Binary
                                            : static_cast<RegType>(0);
                if (static_cast<std::uint32_t>(v.type) == 0 || !parseHexBytes(payload, v.data) ||
                    (v.type == RegType::Dword && v.data.size() != 4) ||
                    (v.type == RegType::Qword && v.data.size() != 8)) {
                    return bad("bad value");
                }
            }
            if (RegValue* old = current->value(v.name)) {
                *old = std::move(v);
            } else {
                current->values.push_back(std::move(v));
            }
        } else {
            return bad("unreadable line");
        }
    }
    if (lineNo == 0) {
        why = "empty registry file";
        return false;
    }
    return true;
}

bool RegistryHive::flush() {
    std::lock_guard lock(m_mutex);
    if (!m_dirty) {
        return true;
    }
    const std::string text = serialize(*m_root);
    std::error_code ec;
    if (m_file.has_parent_path()) {
        std::filesystem::create_directories(m_file.parent_path(), ec);
    }
    std::filesystem::path temp = m_file;
    temp += ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0) {
        ok = ::close(fd) == 0 && ok;
    }
    if (ok && std::rename(temp.c_str(), m_file.c_str()) == 0) {
        const std::filesystem::path folder =
            m_file.has_parent_path() ? m_file.parent_path() : std::filesystem::path(".");
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        m_dirty = false;
        return true;
    }
    m_error = m_file.string() + ": cannot write the registry file (" + std::strerror(errno) + ")";
    ::unlink(temp.c_str());
    return false;
}

}  // namespace pm::detail
