#include "MxModule/foundation/RegistryValue.h"

#include <vector>

registry_value::registry_value(const std::string& name, HKEY base_) : key(nullptr), base(base_) { make_path(name); }

registry_value::registry_value(const registry_value& other)
    : key(nullptr), base(other.base), valuename(other.valuename), keyname(other.keyname) {}

registry_value& registry_value::operator=(const registry_value& other) {
    if (this != &other) {
        close();
        base = other.base;
        valuename = other.valuename;
        keyname = other.keyname;
    }
    return *this;
}

registry_value::~registry_value() { close(); }

void registry_value::make_path(const std::string& name) {
    size_t slash = name.rfind('\\');
    if (slash == std::string::npos) {
        keyname = name;
        valuename = name;
    } else {
        keyname = name.substr(0, slash);
        valuename = name.substr(slash + 1);
    }
}

bool registry_value::open(bool create) {
    close();
    if (create && RegCreateKeyExA(base, keyname.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        return true;
    }
    key = nullptr;
    if (RegOpenKeyExA(base, keyname.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) key = nullptr;
    return key != nullptr;
}

void registry_value::close() {
    if (key) RegCloseKey(key);
    key = nullptr;
}

bool registry_value::query_value(DWORD* type, DWORD* size, void* buffer) {
    return RegQueryValueExA(key, valuename.c_str(), nullptr, type, static_cast<LPBYTE>(buffer), size) == ERROR_SUCCESS;
}

bool registry_value::set_value(DWORD type, DWORD size, const void* buffer) {
    return RegSetValueExA(key, valuename.c_str(), 0, type, static_cast<const BYTE*>(buffer), size) == ERROR_SUCCESS;
}

bool registry_value::exists() {
    if (!open(false)) return false;
    DWORD type = 0, size = 0;
    bool found = query_value(&type, &size, nullptr);
    close();
    return found;
}

void registry_value::remove_value() {
    if (!open(true)) return;
    RegDeleteValueA(key, valuename.c_str());
    close();
}

void registry_value::remove_key() { RegDeleteKeyA(base, keyname.c_str()); }

registry_string<std::string>::operator std::string() {
    std::string result;
    if (!open(false)) return result;
    DWORD type = 0, size = 0;
    if (query_value(&type, &size, nullptr)) {
        std::vector<char> data(size + 1, '\0');
        if (query_value(&type, &size, data.data())) {
            size_t n = 0;
            while (n < size && data[n] != '\0') ++n;
            result.assign(data.data(), n);
        }
    }
    close();
    return result;
}

registry_string<std::string>& registry_string<std::string>::operator=(const std::string& value) {
    if (open(true)) {
        set_value(REG_SZ, DWORD(value.size() + 1), value.c_str());
        close();
    }
    return *this;
}

registry_int<unsigned long>::operator unsigned long() {
    DWORD value = 0;  // the stored number is 32-bit whatever the width of unsigned long
    if (open(false)) {
        DWORD type = 0, size = sizeof value;
        if (!query_value(&type, &size, &value)) value = 0;
        close();
    }
    return value;
}

registry_int<unsigned long>& registry_int<unsigned long>::operator=(const unsigned long& value) {
    if (open(true)) {
        DWORD number = DWORD(value);
        set_value(REG_DWORD, sizeof number, &number);
        close();
    }
    return *this;
}
