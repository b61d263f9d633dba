// Date and time text in the user's order, usable inside a file name. Pure: no system headers.
#pragma once

#include <ctime>
#include <string>

struct DateTimeFormats {
    const char* date;
    const char* time;
};

// dateOrder '1' day first, '2' year first, else month first; timeFlag '1' 24-hour, else 12-hour.
DateTimeFormats dateTimeFormats(char dateOrder, char timeFlag);

// "<date> <time>" for the given local time.
std::string formatDateTime(const std::tm& local, char dateOrder, char timeFlag);
