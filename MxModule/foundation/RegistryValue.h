// One registry value named by a single path: "SOFTWARE\Tamborinebox\Setting\MxLogFile" is the value
// "MxLogFile" under the key "SOFTWARE\Tamborinebox\Setting". Each read or write opens and closes the key.
#pragma once

#include <string>

#include "MxModule/MxExport.h"
#include "platform/registry.h"

class MX_EXPORT registry_value {
public:
    registry_value(const std::string& name, HKEY base_);
    registry_value(const registry_value& other);
    registry_value& operator=(const registry_value& other);
    virtual ~registry_value();

    // True when the value is there.
    bool exists();
    void remove_value();
    void remove_key();

protected:
    // With create, creates or opens the key for all access, falling back on read access.
    bool open(bool create);
    void close();
    bool query_value(DWORD* type, DWORD* size, void* buffer);
    bool set_value(DWORD type, DWORD size, const void* buffer);

private:
    // Splits at the last backslash; a path without one names both the key and the value.
    void make_path(const std::string& name);

    HKEY key;
    HKEY base;
    std::string valuename;
    std::string keyname;
};

template <class T>
class registry_string;

// A text value (REG_SZ): reads give "" when missing, writes store the text and its terminating zero.
template <>
class MX_EXPORT registry_string<std::string> : public registry_value {
public:
    registry_string(const std::string& name, HKEY base_) : registry_value(name, base_) {}
    operator std::string();  // NOLINT(google-explicit-constructor)
    registry_string& operator=(const std::string& value);
};

template <class T>
class registry_int;

// A 32-bit number (REG_DWORD): reads give 0 when missing, so callers test exists() first.
template <>
class MX_EXPORT registry_int<unsigned long> : public registry_value {
public:
    registry_int(const std::string& name, HKEY base_) : registry_value(name, base_) {}
    operator unsigned long();  // NOLINT(google-explicit-constructor)
    registry_int& operator=(const unsigned long& value);
};
