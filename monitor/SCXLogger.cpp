#include "SCXLogger.h"

#include <cstring>

namespace {
constexpr int kComponentColumn = 25;
}  // namespace

std::string scxLogFilePath() { return CSCUtil::getAllUsersDir() + CSCUtil::getProductPrefix() + "scan.log"; }

SCXLogger::SCXLogger() : BasicLogger(scxLogFilePath(), kComponentColumn) {
    void* root = nullptr;
    DWORD rootSize = 0;
    if (!util_.readConfigItem(kConfigManufacturerPath, 0, root, rootSize)) return;
    char path[MAX_PATH] = {};
    copyBounded(path, sizeof(path), static_cast<const char*>(root), rootSize);
    GlobalFree(root);

    void* product = nullptr;
    DWORD productSize = 0;
    if (!util_.readConfigItem(kConfigProductKey, 0, product, productSize)) return;
    std::string settingsPath = path;
    settingsPath += "\\";
    settingsPath.append(static_cast<const char*>(product), strnlen(static_cast<const char*>(product), productSize));
    settingsPath += "\\Scan";
    GlobalFree(product);
    settings_ = std::make_unique<BasicSettings>(settingsPath, "");
}

SCXLogger::~SCXLogger() = default;

void SCXLogger::readSetting(const std::string& name, DWORD& out, DWORD defaultValue) {
    if (!settings_) {
        out = defaultValue;
        return;
    }
    // A missing settings key leaves `out` alone, so the setting reads as the caller's 0.
    settings_->getDwordOrCreate("logger", name, out, defaultValue, false);
}
