#include "SCXLogger.h"

#include <cstring>

namespace {
constexpr int kComponentColumn = 25;
}  // namespace

std::string scxLogFilePath() { return CSCUtil::getAllUsersDir() + CSCUtil::getProductPrefix() + "scan.log"; }

SCXLogger::SCXLogger() : BasicLogger(scxLogFilePath(), kComponentColumn) {
    std::string path, product;
    if (!util_.readConfigText(kConfigManufacturerPath, path) || !util_.readConfigText(kConfigProductKey, product)) return;
    settings_ = std::make_unique<BasicSettings>(path + "\\" + product + "\\Scan", "");
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
