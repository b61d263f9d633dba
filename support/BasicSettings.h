// Registry-backed settings below the local-machine hive: a root path plus an optional instance
// name. Every operation returns a success flag and never throws; on failure the system error is
// the thread's last error and outputs keep their values.
#pragma once

#include "Text.h"

#include <vector>

class BasicSettings {
public:
    BasicSettings(const tstring& basePath, const tstring& instanceSubkey);
    virtual ~BasicSettings() = default;

    virtual bool getBinaryOrCreate(const tstring& subKey, const tstring& name, std::vector<BYTE>& out,
                                   const std::vector<BYTE>& defaultData, bool shared);
    virtual bool getBinary(const tstring& subKey, const tstring& name, std::vector<BYTE>& out, bool shared);
    virtual bool getDwordOrCreate(const tstring& subKey, const tstring& name, DWORD& out, DWORD defaultValue,
                                  bool shared);
    virtual bool getDword(const tstring& subKey, const tstring& name, DWORD& out, bool shared);
    virtual bool getStringOrCreate(const tstring& subKey, const tstring& name, tstring& out,
                                   const tstring& defaultValue, bool shared);
    virtual bool getString(const tstring& subKey, const tstring& name, tstring& out, bool shared);
    virtual bool setString(const tstring& subKey, const tstring& name, const tstring& value, bool shared);
    virtual bool setDword(const tstring& subKey, const tstring& name, DWORD value, bool shared);
    virtual bool getValueNames(const tstring& subKey, std::vector<tstring>& out, bool shared);
    virtual bool deleteKey(const tstring& subKey, bool shared);
    virtual bool deleteValue(const tstring& subKey, const tstring& name, bool shared);
    // Deletes the whole settings root with everything below it.
    virtual bool deleteAll();
    // basePath; basePath + "Shared\"; or basePath + "Local\" + instance.
    virtual tstring rootPath(bool shared);

    const tstring& basePath() const { return basePath_; }
    const tstring& instanceSubkey() const { return instanceSubkey_; }

protected:
    bool exists();

private:
    template <typename Value>
    bool getOrCreate(const tstring& subKey, const tstring& name, Value& out, const Value& defaultValue, bool shared);
    template <typename Value>
    bool get(const tstring& subKey, const tstring& name, Value& out, bool shared);
    template <typename Value>
    bool set(const tstring& subKey, const tstring& name, const Value& value, bool shared);

    tstring basePath_;
    tstring instanceSubkey_;
};
