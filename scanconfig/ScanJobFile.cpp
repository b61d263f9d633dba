#include "JobFile.h"
#include "ScanJob.h"

bool ScanJob::write(const char* fileName) const { return writeJobBytes(fileName, bytes(), false) == 0; }
