#include "payload/InstallLog.h"

const char InstallLogName[] = "Setup.log";

void WriteLogRecord(FileWriter& log, char kind, const char* path)
{
    log.WriteByte(kind);
    log.WriteLine(path);
}
