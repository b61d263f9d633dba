// The application list as the monitor sees it: the library binding, the destination table and
// the list sent to the panel. Until the destinations are built from the library's document the
// table stays empty.
#pragma once

#include "AppListLibrary.h"

#include <mutex>
#include <string>

class AppListClient {
public:
    explicit AppListClient(const std::string& prefix) : library_(prefix) {}

    AppListLibrary& library() { return library_; }

    // Whether the panel has been sent the current list.
    bool listSent() const { return listSent_; }
    void setListSent(bool sent) { listSent_ = sent; }
    void clearDestinations();
    // Sends the destination names to the panel through the session object; false when there is
    // nothing to send with.
    bool sendPanelList(void* sessionObject);

    void setFaxVendorName(const std::string& name);
    std::string faxVendorName() const;

private:
    AppListLibrary library_;
    mutable std::mutex lock_;
    bool listSent_ = false;
    std::string faxVendorName_;
};
