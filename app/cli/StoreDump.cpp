#include "app/cli/StoreDump.h"

#include <cinttypes>
#include <vector>

#include "store/StoreKey.h"

namespace pm::cli {

namespace {

constexpr int kMaxDepth = 64;
constexpr std::size_t kNameSize = 512;

std::vector<std::string> names(StoreKey& key, bool children) {
    std::vector<std::string> out;
    char name[kNameSize];
    for (int i = 0;; ++i) {
        const int ok =
            children ? key.childName(i, name, sizeof name) : key.valueName(i, name, sizeof name);
        if (!ok) {
            break;
        }
        name[sizeof name - 1] = '\0';
        out.emplace_back(name);
    }
    return out;
}

const char* typeName(ValueType type) {
    switch (type) {
        case ValueType::Binary:
            return "binary";
        case ValueType::Int:
            return "int";
        case ValueType::Int64:
            return "int64";
        case ValueType::String:
            return "string";
        case ValueType::WideString:
            return "wstring";
        case ValueType::Double:
            return "double";
        default:
            return "none";
    }
}

// The value as text; binary values show their size and their first bytes.
std::string valueText(StoreKey& key, const std::string& name, bool json) {
    char text[256];
    switch (key.valueType(name)) {
        case ValueType::Int:
            std::snprintf(text, sizeof text, "%d", key.getInt(name, 0));
            return text;
        case ValueType::Int64:
            std::snprintf(text, sizeof text, "%" PRId64, key.getInt64(name, 0));
            return text;
        case ValueType::Double:
            std::snprintf(text, sizeof text, "%.17g", key.getDouble(name, 0.0));
            return text;
        case ValueType::String:
        case ValueType::WideString: {
            const std::string s = key.readString(name);
            return json ? jsonString(s) : "\"" + s + "\"";
        }
        case ValueType::Binary: {
            const std::int64_t size = key.valueSize(name);
            std::vector<std::uint8_t> head(16);
            const std::int64_t got =
                key.getRaw(ValueType::Binary, name, head.data(), head.size(), nullptr);
            std::string hex;
            for (std::int64_t i = 0; i < std::min<std::int64_t>(got, 16); ++i) {
                std::snprintf(text, sizeof text, "%02x", head[static_cast<std::size_t>(i)]);
                hex += text;
            }
            std::snprintf(text, sizeof text, "%" PRId64 " bytes%s%s%s", size,
                          key.isCompressed(name) ? ", compressed" : "", hex.empty() ? "" : ": ",
                          hex.c_str());
            return json ? jsonString(text) : std::string(text) + (size > 16 ? "..." : "");
        }
        default:
            return json ? "null" : "?";
    }
}

void indent(FILE* out, int depth) {
    for (int i = 0; i < depth; ++i) {
        std::fputs("  ", out);
    }
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void dumpStoreText(StoreKey& key, FILE* out, int depth) {
    for (const std::string& name : names(key, false)) {
        indent(out, depth);
        std::fprintf(out, "%s (%s) = %s\n", name.c_str(), typeName(key.valueType(name)),
                     valueText(key, name, false).c_str());
    }
    for (const std::string& name : names(key, true)) {
        indent(out, depth);
        std::fprintf(out, "%s\\\n", name.c_str());
        StoreKeyPtr child = key.openChild(name);
        if (child && depth < kMaxDepth) {
            dumpStoreText(*child, out, depth + 1);
        }
    }
}

void dumpStoreJson(StoreKey& key, FILE* out, int depth) {
    std::fputs("{\"values\": [", out);
    bool first = true;
    for (const std::string& name : names(key, false)) {
        std::fprintf(out, "%s\n", first ? "" : ",");
        first = false;
        indent(out, depth + 1);
        std::fprintf(out, "{\"name\": %s, \"type\": \"%s\", \"value\": %s}",
                     jsonString(name).c_str(), typeName(key.valueType(name)),
                     valueText(key, name, true).c_str());
    }
    std::fputs("], \"keys\": [", out);
    first = true;
    for (const std::string& name : names(key, true)) {
        std::fprintf(out, "%s\n", first ? "" : ",");
        first = false;
        indent(out, depth + 1);
        std::fprintf(out, "{\"name\": %s, \"content\": ", jsonString(name).c_str());
        StoreKeyPtr child = key.openChild(name);
        if (child && depth < kMaxDepth) {
            dumpStoreJson(*child, out, depth + 1);
        } else {
            std::fputs("null", out);
        }
        std::fputs("}", out);
    }
    std::fputs("]}", out);
}

}  // namespace pm::cli
