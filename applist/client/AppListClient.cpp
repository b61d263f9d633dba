#include "AppListClient.h"

void AppListClient::clearDestinations() {}

bool AppListClient::sendPanelList(void* sessionObject) {
    // No destinations are built yet, so there is nothing to send.
    (void)sessionObject;
    return false;
}

void AppListClient::setFaxVendorName(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    faxVendorName_ = name;
}

std::string AppListClient::faxVendorName() const {
    std::lock_guard<std::mutex> hold(lock_);
    return faxVendorName_;
}
