// mxbox reg: inspect and seed the emulated registry. Names and texts are UTF-8 on the terminal and in
// the system code page inside.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace mxbox {
namespace {

struct RegArgs {
    std::string key;
    std::string value;
    std::string data;
    bool hklm = false;
    bool dword = false;
    bool json = false;
    bool recursive = false;
};

// The root and the key path inside it; "HKCU\" or "HKLM\" (or the long names) may lead the key.
HKEY SplitRoot(const RegArgs& a, CString& path) {
    path = Ansi(a.key, "key");
    path.Replace('/', '\\');
    path.Trim('\\');
    HKEY root = a.hklm ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    CString head = path.SpanExcluding("\\");
    if (!head.CompareNoCase("HKCU") || !head.CompareNoCase("HKEY_CURRENT_USER")) root = HKEY_CURRENT_USER;
    else if (!head.CompareNoCase("HKLM") || !head.CompareNoCase("HKEY_LOCAL_MACHINE")) root = HKEY_LOCAL_MACHINE;
    else return root;
    path = path.Mid(head.GetLength());
    path.TrimLeft('\\');
    return root;
}

std::string Render(DWORD type, const std::string& data, bool json) {
    if (type == REG_DWORD && data.size() == 4) {
        DWORD v = DWORD(BYTE(data[0])) | DWORD(BYTE(data[1])) << 8 | DWORD(BYTE(data[2])) << 16 | DWORD(BYTE(data[3])) << 24;
        return std::to_string(v);
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text = MxAnsiToUtf8(data.c_str());  // up to the first zero byte
        return json ? JsonString(text) : text;
    }
    std::string hex;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char c : data) hex += std::string{kHex[c >> 4], kHex[c & 15]};
    return json ? JsonString(hex) : hex;
}

const char* TypeName(DWORD type) {
    switch (type) {
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_DWORD: return "REG_DWORD";
        case REG_BINARY: return "REG_BINARY";
        default: return "REG_NONE";
    }
}

// Opens a key for `sam`; throws a runtime error with a message when it cannot.
HKEY OpenKey(const RegArgs& a, REGSAM sam, bool create) {
    CString path;
    HKEY root = SplitRoot(a, path);
    HKEY key = nullptr;
    LONG rc = create ? RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &key, nullptr)
                     : RegOpenKeyExA(root, path, 0, sam, &key);
    if (rc != ERROR_SUCCESS) throw CLI::RuntimeError(Fail(a.key + ": no such key (error " + std::to_string(rc) + ")"));
    return key;
}

void Get(const RegArgs& a) {
    CString name = Ansi(a.value, "value name");
    HKEY key = OpenKey(a, KEY_READ, false);
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    if (rc == ERROR_SUCCESS) rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data[0]), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw CLI::RuntimeError(Fail(a.key + "\\" + a.value + ": no such value"));
    data.resize(size);
    if (a.json) std::cout << "{\"type\": \"" << TypeName(type) << "\", \"data\": " << Render(type, data, true) << "}\n";
    else std::cout << Render(type, data, false) << "\n";
}

// Decimal or 0x hexadecimal, 0 to 4294967295: a value that does not fit is refused, not cut. A leading
// zero is decimal (010 is ten), not octal.
DWORD ParseDword(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long long parsed = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    bool number = !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) && *end == '\0';
    if (!number || errno == ERANGE || parsed > 0xFFFFFFFFull) {
        throw CLI::RuntimeError(Fail("'" + text + "' is not a number from 0 to 4294967295"));
    }
    return DWORD(parsed);
}

void Set(const RegArgs& a) {
    DWORD v = a.dword ? ParseDword(a.data) : 0;  // before the key is made
    CString name = Ansi(a.value, "value name");
    CString text = a.dword ? CString() : Ansi(a.data, "data");
    HKEY key = OpenKey(a, KEY_ALL_ACCESS, true);
    LONG rc = 0;
    if (a.dword) {
        rc = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    } else {
        rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(static_cast<LPCSTR>(text)),
                            DWORD(text.GetLength() + 1));
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw CLI::RuntimeError(Fail("cannot set the value (error " + std::to_string(rc) + ")"));
}

void List(HKEY key, const std::string& prefix, bool recursive, bool json, bool& first) {
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &cch, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        cch = sizeof name;
        RegEnumValueA(key, i, name, &cch, nullptr, &type, reinterpret_cast<LPBYTE>(&data[0]), &size);
        std::string vname = MxAnsiToUtf8(name);
        if (json) {
            std::cout << (first ? "" : ",\n") << "  {\"key\": " << JsonString(prefix) << ", \"name\": " << JsonString(vname)
                      << ", \"type\": \"" << TypeName(type) << "\", \"data\": " << Render(type, data, true) << "}";
            first = false;
        } else {
            std::cout << prefix << (prefix.empty() ? "" : "\\") << (vname.empty() ? "(default)" : vname) << "  "
                      << TypeName(type) << "  " << Render(type, data, false) << "\n";
        }
    }
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        if (RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string sub = prefix + (prefix.empty() ? "" : "\\") + MxAnsiToUtf8(name);
        if (!recursive) {
            if (!json) std::cout << sub << "\\\n";
            continue;
        }
        HKEY child = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        List(child, sub, recursive, json, first);
        RegCloseKey(child);
    }
}

LONG DeleteTree(HKEY parent, const CString& name) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) return rc;
    char child[1024];
    DWORD cch = sizeof child;
    while (RegEnumKeyExA(key, 0, child, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        if ((rc = DeleteTree(key, child)) != ERROR_SUCCESS) break;
        cch = sizeof child;
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? RegDeleteKeyA(parent, name) : rc;
}

void Delete(const RegArgs& a) {
    LONG rc = 0;
    if (!a.value.empty()) {
        CString name = Ansi(a.value, "value name");
        HKEY key = OpenKey(a, KEY_ALL_ACCESS, false);
        rc = RegDeleteValueA(key, name);
        RegCloseKey(key);
    } else {
        CString path;
        HKEY root = SplitRoot(a, path);
        if (path.IsEmpty()) throw CLI::RuntimeError(Fail("refusing to delete a root key"));
        rc = a.recursive ? DeleteTree(root, path) : RegDeleteKeyA(root, path);
    }
    if (rc != ERROR_SUCCESS) {
        std::string why = rc == ERROR_ACCESS_DENIED ? "the key has subkeys (use -r)" : "not found";
        throw CLI::RuntimeError(Fail("cannot delete: " + why));
    }
}

}  // namespace

void AddRegCommand(CLI::App& app) {
    CLI::App* reg = app.add_subcommand("reg", "Inspect and seed the emulated registry (HKCU unless --hklm)");
    reg->require_subcommand(1);
    auto args = std::make_shared<RegArgs>();
    auto common = [&args](CLI::App* cmd) {
        cmd->add_flag("--hklm", args->hklm, "Use HKEY_LOCAL_MACHINE");
    };

    CLI::App* get = reg->add_subcommand("get", "Print a value");
    get->add_option("KEY", args->key, "Key path, e.g. SOFTWARE\\Tamborinebox\\Setting")->required();
    get->add_option("VALUE", args->value, "Value name (empty: the default value)");
    get->add_flag("--json", args->json, "Machine-readable output");
    common(get);
    get->callback([args] { Get(*args); });

    CLI::App* set = reg->add_subcommand("set", "Set a text value (or a number with --dword)");
    set->add_option("KEY", args->key, "Key path")->required();
    set->add_option("VALUE", args->value, "Value name")->required();
    set->add_option("DATA", args->data, "Text, or a number with --dword")->required();
    set->add_flag("--dword", args->dword, "Store a REG_DWORD");
    common(set);
    set->callback([args] { Set(*args); });

    CLI::App* list = reg->add_subcommand("list", "List the values and subkeys of a key");
    list->add_option("KEY", args->key, "Key path (default: the root)");
    list->add_flag("-r,--recursive", args->recursive, "Descend into subkeys");
    list->add_flag("--json", args->json, "Machine-readable output");
    common(list);
    list->callback([args] {
        HKEY key = OpenKey(*args, KEY_READ, false);
        bool first = true;
        if (args->json) std::cout << "[\n";
        List(key, "", args->recursive, args->json, first);
        if (args->json) std::cout << (first ? "" : "\n") << "]\n";
        RegCloseKey(key);
    });

    CLI::App* del = reg->add_subcommand("delete", "Delete a value, or a key");
    del->add_option("KEY", args->key, "Key path")->required();
    del->add_option("VALUE", args->value, "Value name (omit to delete the key)");
    del->add_flag("-r,--recursive", args->recursive, "Delete a key with its subkeys");
    common(del);
    del->callback([args] { Delete(*args); });
}

}  // namespace mxbox
