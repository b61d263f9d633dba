// A job file of its own in the temporary folder: the name drawn, the file created empty under it
// and kept open, and the job written through that handle. Each request holds its own, so two
// requests at once never write one file.
#pragma once

#include "Handles.h"

#include <atomic>
#include <string>

class ClaimedJob {
public:
    // Draws "LightScanXML<number>.xml" names in `folder` until one is free. `seed` seeds the
    // thread's generator with the time first. A name whose creation fails for another reason is
    // kept, unclaimed, for the writer to report. An empty folder gives an empty job.
    static ClaimedJob draw(const std::string& folder, bool seed);

    // Empty when no name was free.
    const std::string& path() const { return path_; }
    bool empty() const { return path_.empty(); }
    // Writes the whole job and closes the file: through the claimed handle, else by name.
    bool write(const std::string& bytes);

private:
    std::string path_;
    UniqueHandle file_;
};

// The system's temporary folder, ending in "\"; empty when it can't be read.
std::string temporaryFolder();
