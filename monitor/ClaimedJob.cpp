#include "ClaimedJob.h"

#include "DeviceRecord.h"
#include "JobFile.h"
#include "JobText.h"

#include <cstdlib>
#include <ctime>

namespace {
constexpr int kJobNameAttempts = 256;
constexpr unsigned kJobNameCount = 32768;  // the generator's range
constexpr unsigned kJobNameStride = 7919;  // odd: the steps reach every name

// Threads seeded alike would replay each other's taken names: the draws after a taken one are
// moved along by a process-wide step.
std::atomic<unsigned> g_jobNameStep{0};
}  // namespace

std::string temporaryFolder() {
    char folder[kNameBuffer] = {};
    const DWORD length = GetTempPathA(kNameBuffer, folder);
    return length > 0 && length < kNameBuffer ? std::string(folder, length) : std::string();
}

ClaimedJob ClaimedJob::draw(const std::string& folder, bool seed) {
    if (seed) std::srand(static_cast<unsigned>(std::time(nullptr)));
    // Two requests in one second draw the same first number: a name already taken is never
    // replaced, so the second request draws on until it creates a file of its own.
    ClaimedJob job;
    // No folder: a bare name would land in whatever folder is current.
    if (folder.empty()) return job;
    for (int attempt = 0; attempt < kJobNameAttempts; ++attempt) {
        unsigned number = static_cast<unsigned>(std::rand());
        if (attempt > 0) number = (number + g_jobNameStep.fetch_add(1) * kJobNameStride) % kJobNameCount;
        job.path_ = folder + jobFileName(static_cast<int>(number));
        job.file_.reset(CreateFileA(job.path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (job.file_) return job;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return job;
    }
    job.path_.clear();
    return job;
}

bool ClaimedJob::write(const std::string& bytes) {
    if (path_.empty()) return false;
    if (file_) return writeJobBytesAndClose(file_.release(), bytes) == 0;
    return writeJobBytes(path_.c_str(), bytes, false) == 0;
}
