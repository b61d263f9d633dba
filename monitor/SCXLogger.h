// The monitor's logger: the shared log file in the all-users folder, switched by the values of
// the "logger" subkey of the scanner settings key.
#pragma once

#include "BasicLogger.h"
#include "BasicSettings.h"
#include "CSCUtil.h"

#include <memory>

class SCXLogger : public BasicLogger {
public:
    SCXLogger();
    ~SCXLogger() override;

    void readSetting(const std::string& name, DWORD& out, DWORD defaultValue) override;

    // Null when the configuration library could not name the settings key.
    const BasicSettings* settings() const { return settings_.get(); }

private:
    std::unique_ptr<BasicSettings> settings_;
    CSCUtil util_;
};

// The log file's path: all-users folder + prefix + "scan.log".
std::string scxLogFilePath();
