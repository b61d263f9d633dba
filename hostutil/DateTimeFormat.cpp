#include "DateTimeFormat.h"

DateTimeFormats dateTimeFormats(char dateOrder, char timeFlag) {
    DateTimeFormats formats;
    formats.date = dateOrder == '1' ? "%d-%m-%Y" : dateOrder == '2' ? "%Y-%m-%d" : "%m-%d-%Y";
    // Semicolons instead of colons: the text may become part of a file name.
    formats.time = timeFlag == '1' ? "%H;%M;%S" : "%I;%M;%S%p";
    return formats;
}

std::string formatDateTime(const std::tm& local, char dateOrder, char timeFlag) {
    const DateTimeFormats formats = dateTimeFormats(dateOrder, timeFlag);
    char date[50] = {};
    char time[50] = {};
    std::strftime(date, sizeof(date), formats.date, &local);
    std::strftime(time, sizeof(time), formats.time, &local);
    return std::string(date) + " " + time;
}
